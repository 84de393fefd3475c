#include "dorvane/Settings.h"
