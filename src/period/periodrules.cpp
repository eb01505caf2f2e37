#include "periodrules.h"
