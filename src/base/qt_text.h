// The program's texts are UTF-8; Qt's are QStrings.
#pragma once

#include <QString>
#include <string>

namespace velmora {

inline QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace velmora
