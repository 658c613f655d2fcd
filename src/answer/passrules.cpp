#include "passrules.h"
