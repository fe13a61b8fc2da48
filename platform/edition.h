// The edition this build is: 2.0.1 (the reference) or 2.0.0. CMake defines UPGRADE_EDITION as
// 201 or 200. Code that differs between the editions branches on these values with
// `if constexpr`, beside the code it concerns, so that both branches compile in every build.
#pragma once

#ifndef UPGRADE_EDITION
#error "UPGRADE_EDITION must be defined by the build (201 or 200)"
#endif

inline constexpr int kEdition = UPGRADE_EDITION;
inline constexpr bool kEdition200 = (kEdition == 200);
inline constexpr bool kEdition201 = (kEdition == 201);
inline constexpr const char* kEditionText = kEdition200 ? "2.0.0" : "2.0.1";

static_assert(kEdition200 || kEdition201, "UPGRADE_EDITION must be 201 or 200");
