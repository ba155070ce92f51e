#pragma once
// The result codes a favorite's row can hold besides an HTTP status.
namespace signetrix {

inline constexpr int kCodeWaiting = -1;          // not checked yet
inline constexpr int kCodeUnreadable = 9;        // the file could not be read
inline constexpr int kCodeSecureConnection = 777;
inline constexpr int kCodeOtherFailure = 999;
inline constexpr int kCodeNoAnswer = 1000;

} // namespace signetrix
