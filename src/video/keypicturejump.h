// Jumping within an open video, for readers that look at a few pictures
// spread over it rather than at all of them.
#pragma once

#include "video/framesource.h"

// Moves source to the key picture at or before seconds (from the start of the
// file, as currentPictureTime counts) and forgets what the decoder held, so
// that the next picture read is that key picture or one soon after it. False
// when the container cannot seek or the source has ended; reading then goes
// on from where it was.
bool jumpToKeyPictureBefore(FrameSource *source, double seconds);
