#include "platform/Volume.h"
