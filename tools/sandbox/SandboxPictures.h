#pragma once
// The gallery pictures of the sandbox's items, drawn by the sandbox itself so that its answers never send a
// browser off this machine: one simple object per kind of listing, on a background coloured by the name.

#include <optional>
#include <string>
#include <string_view>

// The path of an item's picture ("/pictures/MOTIF/NAME.svg"); the sandbox's address goes in front of it.
std::string SandboxPicturePath(std::string_view motif, std::string_view name);

// The SVG of a picture, or nullopt for a motif the sandbox does not draw. name may be any text of letters,
// digits and "~".
std::optional<std::string> SandboxPicture(std::string_view motif, std::string_view name);
