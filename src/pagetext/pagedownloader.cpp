#include "pagedownloader.h"
