// For headers that define numbers shared by the C++ code and the pages: each
// such header is compiled as C++ and also included by the DLL's IDL file, so
// widl puts its enums into the type library, where script authors see the
// names (object browsers, ASP's METADATA TypeLib). Written once, read twice.
// widl allows a helpstring on an enum but not on its members, so the enum's
// help lists what the members mean, in one string literal (widl joins no
// adjacent literals).
#pragma once

#ifdef __WIDL__
#define QK_TYPELIB_HELP(text) [helpstring(text)]
// The generated interface header keeps its copy of the enums switched off:
// C++ takes them, in their namespace, from the shared header itself, so a
// file that includes both sees each name once.
#define QK_TYPELIB_ONLY_BEGIN cpp_quote("#if 0 /* in C++ from the shared header that the IDL includes */")
#define QK_TYPELIB_ONLY_END cpp_quote("#endif")
#else
#define QK_TYPELIB_HELP(text)
#define QK_TYPELIB_ONLY_BEGIN
#define QK_TYPELIB_ONLY_END
#endif
