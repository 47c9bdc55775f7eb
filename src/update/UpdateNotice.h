// The update offer document, without the system: the offered version, the
// notice content between the meta tags, and that content as configuration
// entries. The document is network content: every function reads it once
// from front to back, never past its end, and takes NULs and unclosed
// quotes as ordinary units.
#pragma once

#include "foundation/MConfigNode.h"
#include "foundation/MString.h"

// Everything between the end of the first start tag beginning "<meta" and
// the next "</meta". False, with `content` untouched, when there is none.
bool ExtractMetaText(const MString& document, MString* content);

// The version in double quotes after "version" in the first "update" tag
// that has one, where "version" must be the tag's first word beginning with
// 'v'. A tag whose version lacks a quote or is empty yields nothing. False,
// with `version` untouched, when no tag yields a version.
bool ExtractUpdateVersion(const MString& document, MString* version);

// The notice content's character entities: plain double quotes become
// single ones first, then "&quot;", "&apos;" and "&nbsp;" are replaced.
MString DecodeNoticeContent(const MString& content);

// Puts one new entry holding the parsed, decoded notice content of the
// document at the front of `texts`. False, with the list untouched, for no
// list, an empty document or a document without notice content.
bool ParseNoticeContent(MConfigNode** texts, const MString& document);
