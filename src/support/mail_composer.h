// Composing mail to the author: the version text, the percent-encoding of the
// link's texts and the scrambled author address.
//
// Texts arrive and leave as UTF-8. Character codes are those of the desktop's
// ANSI code page, Windows-1252; a character it cannot represent counts as "?".
#pragma once

#include <string>
#include <string_view>

namespace velmora {

class DesktopPort;

// The application title and version: "Velmora v1.0.0".
std::string GetVersionText();

// Percent-encodes a text for a mailto: link, character by character: the
// printable ASCII characters except "&" and "#" stay; every other character
// becomes "%" and the two capital hexadecimal digits of its code. A text of
// more than 32767 characters raises "Overflow".
std::string UrlEncode(std::string_view utf8);

// Undoes the program's scrambling: at position i (from 1) the code drops by
// 3 + i mod 3. A code that falls below 0 raises "Invalid procedure call or
// argument"; more than 32767 characters raise "Overflow".
std::string UnscrambleText(std::string_view utf8);

// Composes the mailto: link to the author with the subject and the body and
// hands it to the desktop.  Every step continues past errors: a step that
// fails leaves its piece empty, and nothing is reported.
void SendMail(DesktopPort& desktop, const std::string& subject, std::string body);

// The author's address as it stands in the link, ending in "?" so that the
// mail program reads the fields after it as header fields.
std::string authorAddress();

}  // namespace velmora
