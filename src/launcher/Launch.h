#pragma once
// The launch sequence: extraction, native library path, console handler, single instance,
// runtime discovery and the JVM. Returns only after the application's main has returned and
// the JVM was destroyed.
namespace pelto {

void launch(bool withConsoleHandler);

}  // namespace pelto
