#pragma once

namespace quillet {

// Registers the profile, status and thread frames under their class names with the factory,
// as the program does at start; Unregister undoes it at the end.
void RegisterViewerClasses();
void UnregisterViewerClasses();

} // namespace quillet
