// Single pictures of an open frame source found by their time, and the shape
// of its pixels: for showing a picture a run measured, with a reader of its
// own, on files of any length.
#pragma once

#include "video/framesource.h"

// Moves source to the key picture at or before seconds (from the start of the
// file, as currentPictureTime counts) and forgets what the decoder held, so
// that the next picture read is that key picture or one soon after it: for
// readers that look at a few pictures spread over a video. False when the
// container cannot seek or the source has ended; reading then goes on from
// where it was.
bool jumpToKeyPictureBefore(FrameSource *source, double seconds);

// Moves source to the picture whose time (as currentPictureTime gives it) is
// time, a time a run over the same file recorded: seeks the nearest key
// picture at or before it, then decodes forward without converting the
// pictures before it, so the cost depends on the distance between key
// pictures, not on how far into the file the picture lies. A picture a little
// ahead of the source's last one (no key picture between, or within two
// seconds where the index does not tell) is decoded on to without a seek, and
// the last one again is left as it is: stepping forward costs a picture's
// decoding, not a key picture's distance. FrameReady: the
// picture is in the output buffer and currentPictureTime is its time (the
// first picture from time on, should the file time it differently now).
// EndOfStream: no such picture (a negative time, a failed seek or a time past
// the last picture); a source that has ended cannot seek again.
FrameStatus seekPicture(FrameSource *source, double time);

// Width over height of one of the output's pixels as displayed: the stream's
// sample aspect ratio (the container's, else the codec's), turned with the
// picture; 1 when unknown.
double sampleAspectRatio(const FrameSource *source);
