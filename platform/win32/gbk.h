#pragma once
// GBK (code page 936) to UTF-16 and back, for calling the W APIs. The code page is always 936,
// never the ANSI code page, so Chinese texts survive on every Windows locale.
#include <string>
#include <string_view>

namespace gifanim::platform {

// Bytes that are not valid GBK are replaced by the code page's default character instead of failing.
std::wstring gbk_to_wide(std::string_view text);
// Characters that GBK cannot hold become '?'.
std::string wide_to_gbk(std::wstring_view text);

}  // namespace gifanim::platform
