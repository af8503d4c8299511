#include "common/uGlobVar.h"

bool TestMode = false;
