#pragma once
// The user agents the program sends, in one place. The check presents itself
// as the old browser the sites were written for; the banner host sees the same.
namespace signetrix::net {

inline constexpr char kCheckUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";
inline constexpr char kBannerUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";

} // namespace signetrix::net
