#include "directfetch.h"
