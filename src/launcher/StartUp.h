#pragma once
namespace pelto {

extern char LauncherFlavour;  // 'e' (pelto) or 'i' (quorvanex); '\0' when not configured

// Configuration, flavour, working directory. Fatal failures end the process.
void startUp();
// The steps after the configuration load (flavour, working directory), on the loaded tables.
void applyStartUpConfig();

}  // namespace pelto
