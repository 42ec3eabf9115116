// How different two colours look: CIEDE2000, the CIE's colour difference of
// 2000, on L*a*b* (kL = kC = kH = 1).
#pragma once

#include "analysis/perceptual.h"

double deltaE2000(const LabColour &first, const LabColour &second);
