#include "answeringpass.h"
