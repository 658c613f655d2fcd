#include "textrules.h"
