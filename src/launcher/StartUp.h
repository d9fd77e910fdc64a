#pragma once
namespace pelto {

extern char LauncherFlavour;  // 'e' (pelto) or 'i' (quorvanex)

// Configuration, flavour, working directory. Fatal failures end the process.
void startUp();

}  // namespace pelto
