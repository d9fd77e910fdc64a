/* Machine-dependent JNI types for 64-bit Windows, paired with the JDK's portable jni.h.
   The JDK on this build machine ships only the Linux variant, where jlong is `long`
   (32 bits on Windows); here it must be a 64-bit integer. */
#ifndef PELTO_JNI_MD_H
#define PELTO_JNI_MD_H

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
