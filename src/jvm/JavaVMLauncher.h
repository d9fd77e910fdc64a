#pragma once
// Creating the JVM and calling the launcher class's main.
#include <string>
#include <string_view>
#include <vector>

#include "jvm/JvmOptions.h"

namespace pelto {

// The address of jvm.dll's JNI_CreateJavaVM, from the runtime loading.
void setCreateJavaVmEntry(void* createJavaVm);
// What setCreateJavaVmEntry recorded; nullptr before.
void* createJavaVmEntry();

// The launcher class of a flavour ('i' quorvanex, anything else pelto), internal name.
std::string_view launcherClassOf(char flavour);

// The words after the first of the run path's arguments that reach main: every one except those
// starting with "-Dsun.locale.formatasdefault=" and, when jWordsToJvm, those starting with "-J".
void appendForwardedArguments(const std::vector<std::u16string>& args, bool jWordsToJvm,
                              std::vector<std::u16string>& out);

// true when main ran and returned without a pending exception.
bool launchJvm(const std::vector<std::u16string>& args);

// The steps of launchJvm (Windows); each uses the JNI environment of the created JVM.
bool createJavaVm(const LauncherProperties& properties, const std::vector<std::u16string>& args);
bool invokeMain(const std::vector<std::u16string>& args);
void buildLauncherArguments(std::vector<std::u16string>& out);
bool checkJavaException(bool describe);
void configureJavaSplash();
void loadNativeSupportLibrary();
bool callInitFromLauncher(bool flag);
void setModuleNameProperty();

}  // namespace pelto
