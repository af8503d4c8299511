// The register template of this library is compiled in by qt_add_resources; this unit gives the
// library a source of its own.
