// The two upgrades of an SWF movie's header, applied in memory. Each
// prints one line when it changes the document and answers whether it did.
// Each looks only at the first element of its name in document order: a
// text, a comment or a processing instruction of that name is no element.
#ifndef SWFUPGRADE_SWF_RULES_H
#define SWFUPGRADE_SWF_RULES_H

#include "xml/xml.h"

// Raises the first swf element's version "6", "7" or "8" to "10".
bool changeSwfTag(qor::utility::clXML& document);

// Appends allowABC="1" to the first FileAttributes element when it has no
// allowABC; a later FileAttributes element is never looked at.
bool changeFileAttributesTag(qor::utility::clXML& document);

#endif
