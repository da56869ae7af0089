#pragma once

#include <filesystem>

class QObject;

namespace qb::ui {

// Opens a file or folder with the desktop's default application for it.
void openWithDefaultApp(const std::filesystem::path& path);

// Shows `path` selected in the file manager; where no file manager answers the request, opens the folder
// that holds it. `context` bounds the wait for the answer.
void revealInFileManager(const std::filesystem::path& path, QObject* context);

}  // namespace qb::ui
