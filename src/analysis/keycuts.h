// Cuts among key pictures alone. Seconds apart, every key picture differs
// from the one before, so their colours tell little; but encoders such as
// x264 start a new key picture where they see a change of scene, between
// the ones they place at a regular interval. Those placed early are taken
// for cuts.
#pragma once

#include <vector>

// Of key picture times (increasing), those that follow the one before by
// clearly less than the longest gap between two of them, the encoder's own
// interval. Nothing when the gaps tell no interval: fewer than two about as
// long as the longest, or all of them (a fixed group of pictures).
std::vector<double> earlyKeyPictures(const std::vector<double> &times);
