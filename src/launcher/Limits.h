#pragma once
#include <cstddef>

// The fixed text rooms of the launcher. They are observable limits: a text longer than
// its room is cut (and logged) or refused, never written past the room.
namespace pelto {
constexpr std::size_t TextRoom = 6000;          // paths and most texts, in characters incl. NUL
constexpr std::size_t ShortTextRoom = 2000;     // version texts and a few configuration texts
constexpr std::size_t ChildCommandRoom = 12000; // the service child's command line
constexpr std::size_t PathListRoom = 12000;     // PATH as read around jvm.dll loading
}  // namespace pelto
