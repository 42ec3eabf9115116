// A poster as a vector PDF: one page, each strip column a filled rectangle,
// the title and the time axis as text, at a print size.
#pragma once

#include "export/stripexport.h"

// Writes strip, of kind, to fileName as a one-page PDF, as
// writeFileAtomically does. The columns are layout's (its width, else one
// per picture), runs of one colour in a band merged into one rectangle. The
// page is layout's page with the strip stretched to fill what the title and
// axis leave, drawn as a picture of the page at its dpi would be; without a
// page, the poster's pixel size (columns by rows, title and axis included)
// at the dpi (default 300). Needs a QGuiApplication. False with the reason
// in why.
bool writePdfPoster(const Strip &strip, StripKind kind, const QString &fileName,
                    const StripLayout &layout, QString *why);
