#pragma once

#include <filesystem>

#include <QFile>
#include <QString>

namespace qb::model {

// File names are bytes on Linux; these keep names that are not valid UTF-8 intact across Qt's API.
inline QString toQString(const std::filesystem::path& path) {
    return QFile::decodeName(path.native().c_str());
}

inline std::filesystem::path toPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

}  // namespace qb::model
