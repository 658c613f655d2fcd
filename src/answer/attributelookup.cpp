#include "attributelookup.h"
