#include "zhuanzi.h"
