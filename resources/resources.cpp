// The resources of this library are compiled in by qt_add_resources; this unit gives the
// library a source of its own.
