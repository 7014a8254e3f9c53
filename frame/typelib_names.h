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
#else
#define QK_TYPELIB_HELP(text)
#endif
