#include "ORVIAcquireLib.h"
