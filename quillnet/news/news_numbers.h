// The numbers of MyNntp that pages pass or compare: the items of
// GetMoreInfo and the results of the session methods (0 or below; a
// positive result is the news server's own reply code). Pages use them by
// value, so they never change. quillnet.idl includes this file inside its
// library block, which puts the enums into the type library (see
// frame/typelib_names.h); in C++ they live in namespace quillnet.
#pragma once

#include "frame/typelib_names.h"

QK_SHARED_NAMES_BEGIN(quillnet)

typedef QK_TYPELIB_HELP(
    "MoreInfoItem: the item argument of GetMoreInfo: attachments (the stored files, one a line), date, from, newsgroups, reply-to, subject, article number, size in bytes, attachment count, lines") enum MoreInfoItem {
    info_attachments = 0,
    info_date = 1,
    info_from = 2,
    info_newsgroups = 3,
    info_reply_to = 4,
    info_subject = 5,
    info_number = 6,
    info_size = 7,
    info_attachment_count = 8,
    info_lines = 9,
} MoreInfoItem;

typedef QK_TYPELIB_HELP(
    "SessionResult: what MyNntp's methods answer besides the server's reply codes: 0 done; -1 not connected, no group selected or no such listing entry; -2 the store folder or file cannot be made; -3 a write to the store failed or no memory for the listing") enum SessionResult {
    session_ok = 0,
    session_not_ready = -1,
    session_store_unusable = -2,
    session_write_failed = -3,
} SessionResult;

QK_SHARED_NAMES_END(quillnet)
