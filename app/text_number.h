#pragma once
// Numbers typed by people: configuration values, edit-box texts and menu labels such as "10帧/s".
#include <string_view>

namespace gifanim::app {

// The integer at the start of a GBK text. Full-width characters are first folded to their ASCII
// forms (full-width digits and signs included, the ideographic space to a blank); then leading
// blanks are skipped and an optional sign and the decimal digits after it are read. Text without
// such a number gives 0 ("12abc" gives 12, "abc" 0); a number beyond the 32-bit range gives the
// nearest 32-bit value.
int text_to_int(std::string_view gbk);

// True exactly when the text is "1": "01", " 1" and "1 " are false.
bool text_is_true(std::string_view text);

}  // namespace gifanim::app
