// The texts of the window's traffic items: capture files and comparing decodings.
#pragma once

inline constexpr const char* kTextOpenCaptureItem = "打开抓包文件…";
inline constexpr const char* kTextCompareItem = "与上次解析比较";
