// Between the tool's GBK texts and the widgets' Unicode strings.
#pragma once

#include <QString>

#include "text/text.h"

namespace tessaly {

// What a box shows for GBK bytes: every byte that is not valid GBK as U+FFFD (never
// dropped), and each line end (CR CR LF, CR LF, a lone CR or a lone LF) as one break.
QString displayTextOf(std::string_view gbk);

// A widget's string as GBK: what GBK lacks becomes "?"; line breaks become CR LF.
Text gbkTextOf(const QString& shown);

}  // namespace tessaly
