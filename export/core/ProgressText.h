// The texts of the progress window, built without any window so that they can
// be checked on their own. TProgressWindow shows what this model produces.
#pragma once

#include <cstdint>
#include <string>

// "###,##0.0": thousands grouped, one decimal, rounded half away from zero.
std::string FormatKilobytes(double kilobytes, char groupSeparator = ',', char decimalPoint = '.');
// "##0": the whole number nearest the value, no grouping.
std::string FormatWholeNumber(double value);
// A span of milliseconds as "hh:nn:ss" of a time of day: whole days are
// dropped, the milliseconds ignored (25 hours give 01:00:00).
std::string FormatTimeOfDay(int64_t milliseconds);
// Milliseconds since 30 December 1899 of the program clock's current time.
int64_t ClockMilliseconds();

// State and texts of one transfer: Initialize, then UpdateProgress as often as
// the caller likes. Times are milliseconds from any fixed origin.
class ProgressTexts {
  public:
    int Mode = 1;  // 0 import, 1 export
    int Basis = 0; // 0 records, 1 bytes

    void Initialize(int mode, int basis, const std::string& fileName, int64_t totalRecords,
                    int64_t totalBytes, int64_t nowMs);
    void UpdateProgress(int64_t recordsDone, int64_t bytesDone, int64_t nowMs);

    std::string Caption;
    std::string FileText = "?";
    std::string RecordsText = "?";
    std::string BytesText = "?";
    std::string TimeText = "?";
    std::string PercentText = "0%";
    int64_t BarMaximum = 0;
    int64_t BarPosition = 0;

    // Elapsed whole seconds of the last update (at least 1), rate in K/s.
    int64_t ElapsedSeconds = 0;
    double Rate = 0;

    // "hh:nn:ss remaining" for the amount done by the basis at `nowMs`.
    std::string RemainingText(int64_t nowMs) const;

    char GroupSeparator = ',';
    char DecimalPoint = '.';

  private:
    double percentDone() const;
    int64_t amountDone() const { return Basis == 0 ? recordsDone_ : bytesDone_; }
    int64_t total() const { return Basis == 0 ? totalRecords_ : totalBytes_; }

    int64_t startMs_ = 0;
    int64_t totalRecords_ = 0, totalBytes_ = 0;
    int64_t recordsDone_ = 0, bytesDone_ = 0;
};
