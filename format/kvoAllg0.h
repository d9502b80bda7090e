// The version 1.0 table set: one byte-image table per block of a version 1.0
// file. B14 and B15 have no table here; the reader puts them straight into
// the version 1.1 set.
#pragma once

#include "Records.h"

namespace kvo::kvoAllg0 {

using TkvoB1Satz0 = Record<134>;  // main tracks, 1 to 600
using TkvoB2Satz0 = Record<8>;
using TkvoB3Satz0 = Record<96>;
using TkvoB4Satz0 = Record<104>;
using TkvoB5Satz0 = Record<178>;
using TkvoB6Satz0 = Record<140>;
using TkvoB7Satz0 = Record<330>;
using TkvoB8Satz0 = Record<80>;
using TkvoB9Satz0 = Record<104>;
using TkvoB10Satz0 = Record<46>;  // tracks of the track diagram
using TkvoB11Satz0 = Record<14>;
using TkvoB12Satz0 = Record<37>;
using TkvoB13Satz0 = Record<14>;
using TkvoB16Satz0 = Record<14>;
// 72 data bytes and a 4-byte slot that the simulator uses as a list
// reference. In a file the slot is whatever the writer left there: plain
// bytes to us, never followed.
using TkvoZNummer0 = Record<76>;
using TkvoB18Satz0 = Record<70>;

struct Tables {
  Fixed<TkvoB1Satz0, 600> b1;
  Fixed<TkvoB2Satz0, 512> b2;
  Fixed<TkvoB3Satz0, 256> b3;
  Fixed<TkvoB4Satz0, 16> b4;
  Fixed<TkvoB5Satz0, 400> b5;
  Growable<TkvoB6Satz0> b6;
  Growable<TkvoB7Satz0> b7;
  Growable<TkvoB8Satz0> b8;
  Growable<TkvoB9Satz0> b9;
  Growable<TkvoB10Satz0> b10;
  Fixed<TkvoB11Satz0, 30> b11;
  Growable<TkvoB12Satz0> b12;
  Growable<TkvoB13Satz0> b13;
  Fixed<TkvoB16Satz0, 2513> b16;
  Growable<TkvoZNummer0> b17;
  Growable<TkvoB18Satz0> b18;
  Record<128> b19;
};

}  // namespace kvo::kvoAllg0
