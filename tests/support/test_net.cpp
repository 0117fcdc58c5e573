#include "support/test_net.h"
