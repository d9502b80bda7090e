// The version 1.1 table set: one byte-image table per block of a version 1.1
// file, B14 and B15 included.
#pragma once

#include "Records.h"

namespace kvo::kvoAllg {

using TkvoB1Satz = Record<134>;  // main tracks, 1 to 600
using TkvoB2Satz = Record<8>;
using TkvoB3Satz = Record<98>;  // grew by the word at 78
using TkvoB4Satz = Record<104>;
using TkvoB5Satz = Record<178>;
using TkvoB6Satz = Record<140>;
using TkvoB7Satz = Record<350>;  // grew by the wider short texts
using TkvoB8Satz = Record<80>;
using TkvoB9Satz = Record<104>;
using TkvoB10Satz = Record<46>;  // tracks of the track diagram
using TkvoB11Satz = Record<14>;
using TkvoB12Satz = Record<37>;
using TkvoB13Satz = Record<14>;
using TkvoB16Satz = Record<14>;
using TkvoZNummer = Record<76>;  // see TkvoZNummer0: the slot is opaque
using TkvoB18Satz = Record<70>;

struct Tables {
  Fixed<TkvoB1Satz, 600> b1;
  Fixed<TkvoB2Satz, 512> b2;
  Fixed<TkvoB3Satz, 256> b3;
  Fixed<TkvoB4Satz, 16> b4;
  Fixed<TkvoB5Satz, 400> b5;
  Growable<TkvoB6Satz> b6;
  Growable<TkvoB7Satz> b7;
  Growable<TkvoB8Satz> b8;
  Growable<TkvoB9Satz> b9;
  Growable<TkvoB10Satz> b10;
  Fixed<TkvoB11Satz, 30> b11;
  Growable<TkvoB12Satz> b12;
  Growable<TkvoB13Satz> b13;
  Record<200> b14;
  Record<16> b15;
  Fixed<TkvoB16Satz, 2513> b16;
  Growable<TkvoZNummer> b17;
  Growable<TkvoB18Satz> b18;
  Record<128> b19;
};

}  // namespace kvo::kvoAllg
