// The package archive lives in the channel's download folder, and nowhere else: the launcher
// writes, truncates and deletes it under its name, so a name that could point at any other file
// of the player (a save, the override documents, a path outside the working folder) is refused.
#pragma once

#include <string>

// True only for `channelId` + "/" + a plain file name: one name of its own, no separator, no
// drive or stream colon, no control character, not "." or "..", no dot or blank at its end
// (Windows would drop those and mean another name), no Windows device name.
bool IsDownloadFolderArchiveName(const std::string& zipName);
