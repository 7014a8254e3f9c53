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
// Around the enums: C++ gets them in the namespace given; the generated
// interface header keeps its copy switched off, so a file that includes
// both sees each name once (the type library still carries them).
#define QK_SHARED_NAMES_BEGIN(ns) cpp_quote("#if 0 /* in C++ from the shared header that the IDL includes */")
#define QK_SHARED_NAMES_END(ns) cpp_quote("#endif")
#else
#define QK_TYPELIB_HELP(text)
#define QK_SHARED_NAMES_BEGIN(ns) namespace ns {
#define QK_SHARED_NAMES_END(ns) }
#endif
