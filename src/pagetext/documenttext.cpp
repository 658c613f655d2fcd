#include "documenttext.h"
