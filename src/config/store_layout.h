// Where the web client's settings live in the settings store, all under the current user's hive.
//
// Per-user settings: <kClientKey>\<kDatasourcesKey>\<datasource>\<user>, holding kUserWorkDir
// (REG_SZ) and kAllowedSites (REG_MULTI_SZ). Administrator policy: sub-keys of kPolicyRoot,
// read only, never written by the client: kSafeWorkDirs, kSiteLock and kRedirectHosts
// (numbered lists) and
// kZoneLock with the DWORD kTrustedZoneDisabled.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/error.h"

namespace qs {

inline constexpr std::u16string_view kClientKey = u"SOFTWARE\\Tarnholt\\Quillstone Web Client";
inline constexpr std::u16string_view kDatasourcesKey = u"Datasources";
inline constexpr std::u16string_view kPolicyRoot =
    u"SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client";
inline constexpr std::u16string_view kSafeWorkDirs = u"SafeWorkDirs";
inline constexpr std::u16string_view kSiteLock = u"SiteLock";
// Numbered list of further hosts (or "*.suffix" patterns) downloads may be redirected to.
inline constexpr std::u16string_view kRedirectHosts = u"RedirectHosts";
inline constexpr std::u16string_view kZoneLock = u"ZoneLock";
inline constexpr std::u16string_view kTrustedZoneDisabled = u"TrustedZoneDisabled";
inline constexpr std::u16string_view kUserWorkDir = u"UserWorkDir";
inline constexpr std::u16string_view kAllowedSites = u"AllowedSites";
// The trusted-sites list of browser pages: the user's own entries under <kClientKey> and the
// administrator's beside the site lock under <kPolicyRoot>, both numbered lists.
inline constexpr std::u16string_view kTrustedSites = u"TrustedSites";

// The per-user key path has always been formed in a buffer of 256 characters; the limit stays.
inline constexpr size_t kMaxDatasourceKeyPathLength = 255;

// "<kClientKey>\Datasources\<datasource>\<user>". Refuses with 87 an empty component or one
// holding "\" (it would name a different key), and with 206 a path longer than
// kMaxDatasourceKeyPathLength; never truncates.
ErrorOr<std::u16string> DatasourceKeyPath(std::u16string_view datasource, std::u16string_view user);

// "<kPolicyRoot>\<subkey>".
std::u16string PolicyKeyPath(std::u16string_view subkey);

}  // namespace qs
