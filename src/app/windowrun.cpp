#include "app/windowrun.h"

WindowRun windowRun;
