"""Argument grammars of the level, filter and FIR effects, seen through validate_effects_chain."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from corvala import ext


def validate_one(text):
    (result,) = ext.audio.validate_effects_chain([text])
    return result


# Report prefixes; every one of these templates ends with " original='<the string>'".
def arity(effect, reason):
    return f"[ARITY_ERROR] effect='{effect}' reason='{reason}'"


def flag(effect, token, reason):
    return f"[FLAG_ERROR] effect='{effect}' token='{token}' reason='{reason}'"


def unit(effect, token, reason):
    return f"[UNIT_ERROR] effect='{effect}' token='{token}' reason='{reason}'"


def parse(effect, index, token, reason, hint):
    at = "" if index is None else f" index={index}"
    return f"[EFFECT_PARSE_ERROR] effect='{effect}'{at} token='{token}' reason='{reason}' hint='{hint}'"


def unsupported(effect, detail, hint):
    return f"[UNSUPPORTED] effect='{effect}' detail='{detail}' hint='{hint}'"


def bad_width(effect, index, token):
    return parse(effect, index, token, f"invalid unit: {token}", f'see effect_help("{effect}")')


def out_of_band(effect, token):
    return unit(effect, token, f"frequency must be between 0 and 8000 Hz: {token}")


VALID = [
    # vol: the value as typed and the type word; the limiter gain when given
    ("vol 0.5", "vol 0.500000 amplitude"),
    ("vol 0.5 power", "vol 0.500000 power"),
    ("vol -4 power", "vol -4.000000 power"),
    ("vol 6 dB 0.5", "vol 6.000000 dB 0.500000"),
    ("vol -1 amplitude 1", "vol -1.000000 amplitude 1.000000"),
    ("VOL 2", "vol 2.000000 amplitude"),
    # dcshift
    ("dcshift 2", "dcshift 2.000000"),
    ("dcshift -2 1", "dcshift -2.000000 1.000000"),
    ("dcshift 0.1 0.05", "dcshift 0.100000 0.050000"),
    # contrast, overdrive: defaults and closed range ends
    ("contrast", "contrast 75.000000"),
    ("contrast 0", "contrast 0.000000"),
    ("contrast 1e2", "contrast 100.000000"),
    ("overdrive", "overdrive 20.000000 20.000000"),
    ("overdrive 5", "overdrive 5.000000 20.000000"),
    ("overdrive 0 100", "overdrive 0.000000 100.000000"),
    # tremolo: speed 0 allowed, depth default 40, a tiny depth is above 0
    ("tremolo 0", "tremolo 0.000000 40.000000"),
    ("tremolo 5 100", "tremolo 5.000000 100.000000"),
    ("tremolo 0.5 1e-7", "tremolo 0.500000 0.000000"),
    # fade: shape, anchors, fade-out copied from the fade-in, time-spec printing
    ("fade 0.5", "fade l 0.500000"),
    ("fade 0", "fade l 0.000000"),
    ("fade q 1 8000s", "fade q 1.000000 =8000s 1.000000"),
    ("fade 0.5 -1 0.5", "fade l 0.500000 -1.000000 0.500000"),
    ("fade 0.5 =8000s", "fade l 0.500000 =8000s 0.500000"),
    ("fade t 1 -+5", "fade t 1.000000 -5.000000 1.000000"),
    ("fade h 1 +-5", "fade h 1.000000 +0.000000 1.000000"),
    ("fade p 1 --5", "fade p 1.000000 -0.000000 1.000000"),
    ("fade 1 -", "fade l 1.000000 -0.000000 1.000000"),
    ("fade 2 + 3", "fade l 2.000000 +0.000000 3.000000"),
    ("fade 1.5+100s", "fade l 1.500000+100s"),
    ("fade 100s 1:30 2", "fade l 100s =90.000000 2.000000"),
    ('fade "1 + 2"', "fade l 3.000000"),
    ("reverse", "reverse"),
    # equalizer: width printed shortest with its unit (default q)
    ("equalizer 1k 2q -6", "equalizer 1000.000000 2q -6.000000"),
    ("equalizer 1000 1.5 3", "equalizer 1000.000000 1.5q 3.000000"),
    ("equalizer 7999.5 100h 0", "equalizer 7999.500000 100h 0.000000"),
    ('equalizer "1k" .5k 1e1', "equalizer 1000.000000 0.5k 10.000000"),
    # highpass, lowpass
    ("highpass 100", "highpass -2 100.000000"),
    ("lowpass -1 500", "lowpass -1 500.000000"),
    ("highpass -2 1k 0.707", "highpass -2 1000.000000 0.707q"),
    ("lowpass 300 2o", "lowpass -2 300.000000 2o"),
    # bandpass, bandreject: width with six decimals, default unit h
    ("bandpass 1000 100", "bandpass 1000.000000 100.000000h"),
    ("bandpass -c 1k 1o", "bandpass -c 1000.000000 1.000000o"),
    ("bandreject 1000 2q", "bandreject 1000.000000 2.000000q"),
    ("allpass 1000 2", "allpass 1000.000000 2q"),
    ("allpass 500 0.1k", "allpass 500.000000 0.1k"),
    # bass, treble: defaults 100 / 3000 Hz and 0.5s
    ("bass 6", "bass 6.000000 100.000000 0.500000s"),
    ("treble -3", "treble -3.000000 3000.000000 0.500000s"),
    ("bass 3 200 1", "bass 3.000000 200.000000 1.000000s"),
    ("treble 2 4k 0.7q", "treble 2.000000 4000.000000 0.700000q"),
    # band: width defaults to half the centre in Hz; no range checks; extra arguments ignored
    ("band 1000", "band 1000.000000 500.000000h"),
    ("band -n 1000", "band -n 1000.000000 500.000000h"),
    ("band 1k 2q extra stuff", "band 1000.000000 2.000000q"),
    ("band 9000 -5", "band 9000.000000 -5.000000h"),
    ("band -1000", "band -1000.000000 -500.000000h"),
    # sinc: edges, phase words, sides of -t / -n
    ("sinc 3k", "sinc -L 3000.000000"),
    ("sinc -3k", "sinc -L -3000.000000"),
    ("sinc 1k-3k", "sinc -L 1000.000000-3000.000000"),
    ("sinc 3k-1k", "sinc -L 3000.000000-1000.000000"),
    ("sinc 1k-", "sinc -L 1000.000000"),
    ("sinc 0", "sinc -L -0.000000"),
    ("sinc 8k", "sinc -L 8000.000000"),
    ("sinc -n 101 1k-3k", "sinc -L -n 101 1000.000000-3000.000000"),
    ("sinc -r -a 60 -M 1k", "sinc -r -a 60.000000 -M 1000.000000"),
    ("sinc -a 40 -I 1k", "sinc -a 40.000000 -I 1000.000000"),
    ("sinc -a 180 -p 25 1k", "sinc -a 180.000000 -I 1000.000000"),
    ("sinc -b 0 500", "sinc -b 0.000000 -L 500.000000"),
    ("sinc -b 256 -p 10 500", "sinc -b 256.000000 -p 10.000000 500.000000"),
    ("sinc -p 0 -L 1k", "sinc -L 1000.000000"),
    ("sinc -L -p 0 1k", "sinc -M 1000.000000"),
    ("sinc -t 100 1k-3k -t 200", "sinc -L -t 100.000000 1000.000000-3000.000000 -t 200.000000"),
    ("sinc -t 0.5k 1k", "sinc -L -t 500.000000 1000.000000"),
    ("sinc -t 1 -3k", "sinc -L -t 1.000000 -3000.000000"),
    ("sinc 1k -n 11", "sinc -L 1000.000000 -n 11"),
    ("sinc -n 101 1k -n 32767", "sinc -L -n 101 1000.000000 -n 32767"),
    ("sinc -n 101 -n +0201 1k", "sinc -L -n 201 1000.000000"),
    # hilbert: the check applies to the last value only
    ("hilbert", "hilbert -n 211"),
    ("hilbert -n 3", "hilbert -n 3"),
    ("hilbert -n 32767", "hilbert -n 32767"),
    ("hilbert -n +0011", "hilbert -n 11"),
    ("hilbert -n 2 -n 5", "hilbert -n 5"),
    # loudness
    ("loudness", "loudness -10.000000 65.000000 1023"),
    ("loudness 0", "loudness 0.000000 65.000000 1023"),
    ("loudness -50 50 127", "loudness -50.000000 50.000000 127"),
    ("loudness 15 75 +2047", "loudness 15.000000 75.000000 2047"),
]


INVALID = [
    # vol
    ("vol", arity("vol", "vol requires at least a gain argument")),
    ("vol 1 dB 0.5 x", arity("vol", "vol takes at most 3 arguments")),
    ("vol 3dB", unit("vol", "3dB", "invalid gain value: 3dB")),
    ('vol "a b"', unit("vol", "a b", "invalid gain value: a b")),
    ("vol x DB", unit("vol", "x", "invalid gain value: x")),
    ("vol 1 DB", parse("vol", None, "DB", "unknown type: DB", "type must be one of: dB, power, amplitude")),
    ("vol 1 power x", unit("vol", "x", "invalid limitergain: x")),
    *[
        (f"vol 1 dB {v}", parse("vol", None, v, "limitergain must be in (0, 1]", "limitergain must be a value in (0, 1]"))
        for v in ("0", "1.5", "nan")
    ],
    # Non-finite linear gains (typed, or from a dB value too large) are refused like unreadable ones.
    ("vol inf", unit("vol", "inf", "invalid gain value: inf")),
    ("vol 1e4 dB", unit("vol", "1e4", "invalid gain value: 1e4")),
    # dcshift
    ("dcshift", arity("dcshift", "dcshift requires at least a shift argument")),
    ("dcshift 1 1 1", arity("dcshift", "dcshift takes at most 2 arguments")),
    ("dcshift x", unit("dcshift", "x", "invalid shift value: x")),
    ("dcshift 2.5", parse("dcshift", 1, "2.5", "shift must be in [-2, 2]", "shift must be in [-2, 2]")),
    ("dcshift -inf", parse("dcshift", 1, "-inf", "shift must be in [-2, 2]", "shift must be in [-2, 2]")),
    ("dcshift 3 y", parse("dcshift", 1, "3", "shift must be in [-2, 2]", "shift must be in [-2, 2]")),
    ("dcshift 0.1 y", unit("dcshift", "y", "invalid limitergain: y")),
    ("dcshift 0.1 0", parse("dcshift", 2, "0", "limitergain must be in (0, 1]", "limitergain must be in (0, 1]")),
    ("dcshift 0.1 NaN", parse("dcshift", 2, "NaN", "limitergain must be in (0, 1]", "limitergain must be in (0, 1]")),
    # contrast: the value printed shortest in the reason
    ("contrast 1 2", arity("contrast", "contrast takes at most 1 argument")),
    ("contrast x", unit("contrast", "x", "invalid enhancement value: x")),
    ("contrast 1e3", parse("contrast", 1, "1e3", "enhancement out of range: 1000", "enhancement must be in [0, 100]")),
    ("contrast -1e-3", parse("contrast", 1, "-1e-3", "enhancement out of range: -0.001", "enhancement must be in [0, 100]")),
    ("contrast inf", parse("contrast", 1, "inf", "enhancement out of range: inf", "enhancement must be in [0, 100]")),
    # overdrive
    ("overdrive 1 2 3", arity("overdrive", "overdrive takes at most 2 arguments")),
    ("overdrive x", unit("overdrive", "x", "invalid gain value: x")),
    ("overdrive 101", parse("overdrive", 1, "101", "gain out of range: 101", "gain must be in [0, 100]")),
    ("overdrive nan 200", parse("overdrive", 1, "nan", "gain out of range: NaN", "gain must be in [0, 100]")),
    ("overdrive 10 y", unit("overdrive", "y", "invalid color value: y")),
    ("overdrive 10 -0.5", parse("overdrive", 2, "-0.5", "color out of range: -0.5", "color must be in [0, 100]")),
    # tremolo: both read before either is checked; range tokens are the values printed shortest
    ("tremolo", arity("tremolo", "tremolo takes 1 or 2 arguments: speed [depth]")),
    ("tremolo 1 2 3", arity("tremolo", "tremolo takes 1 or 2 arguments: speed [depth]")),
    ("tremolo x", unit("tremolo", "x", "invalid speed")),
    ("tremolo -1 x", unit("tremolo", "x", "invalid depth")),
    ("TREMOLO -2.50", unit("tremolo", "-2.5", "speed must be >= 0")),
    ("tremolo -1 0", unit("tremolo", "-1", "speed must be >= 0")),
    ("tremolo 5 0", unit("tremolo", "0", "depth must be in range (0, 100]")),
    ("tremolo 5 1e3", unit("tremolo", "1000", "depth must be in range (0, 100]")),
    ("tremolo 5 nan", unit("tremolo", "NaN", "depth must be in range (0, 100]")),
    # A speed of inf or NaN is not negative but has no defined modulation: refused as unreadable.
    ("tremolo inf", unit("tremolo", "inf", "invalid speed")),
    ("tremolo nan 50", unit("tremolo", "nan", "invalid speed")),
    # fade
    ("fade", arity("fade", "Missing fade-in length")),
    ("fade q", arity("fade", "Missing fade-in length")),
    ("fade x 1", unit("fade", "x", "invalid character in time spec at pos 0")),
    ("fade 1.5s", unit("fade", "1.5s", "invalid time value: 1.5s")),
    ("fade 1 =-5", unit("fade", "=-5", "invalid character in time spec at pos 0")),
    ("fade 1 -2x", unit("fade", "-2x", "unexpected character at pos 1")),
    ("fade 1 2 x", unit("fade", "x", "invalid character in time spec at pos 0")),
    ("fade q 1 2 3 4", arity("fade", "Unexpected argument: 4")),
    ("FADE Q 1", unit("fade", "Q", "invalid character in time spec at pos 0")),  # shape letters are lower case
    ("reverse 1", arity("reverse", "reverse takes no arguments")),
    # equalizer: frequency, then width, then gain
    ("equalizer 1000 1", arity("equalizer", "equalizer takes exactly 3 arguments: frequency width gain")),
    ("equalizer 1000 1 1 1", arity("equalizer", "equalizer takes exactly 3 arguments: frequency width gain")),
    ("equalizer 1K 1 1", unit("equalizer", "1K", "Invalid numeric value: 1K")),
    ("equalizer 1.2.3k 1 1", unit("equalizer", "1.2.3k", "Invalid numeric value: 1.2.3")),
    *[(f"equalizer {f} x y", out_of_band("equalizer", f)) for f in ("8000", "8k", "0", "-5", "nan", "inf")],
    ("equalizer 1000 2x 1", bad_width("equalizer", 2, "2x")),
    *[(f"equalizer 1000 {w} 1", unit("equalizer", w, f"width must be positive: {w}")) for w in ("0", "-1q", "nanq")],
    ("equalizer 1000 1 3dB", unit("equalizer", "3dB", "Invalid dB value: 3dB")),
    # An infinite width or gain would make the coefficients NaN: refused like unreadable ones.
    ("equalizer 1000 infq 1", bad_width("equalizer", 2, "infq")),
    ("equalizer 1000 1 -inf", unit("equalizer", "-inf", "Invalid dB value: -inf")),
    # highpass, lowpass
    ("highpass", arity("highpass", "highpass takes at least frequency argument")),
    ("lowpass -1", arity("lowpass", "lowpass missing frequency argument")),
    ("highpass -2", arity("highpass", "highpass missing frequency argument")),
    ("highpass -3", out_of_band("highpass", "-3")),
    ("highpass -1 500 0.7", unsupported("highpass", "width allowed only with -2", "remove width or use -2")),
    ("highpass -1 500 0.7 9", unsupported("highpass", "width allowed only with -2", "remove width or use -2")),
    ("highpass -2 500 0", unit("highpass", "0", "width must be positive: 0")),
    ("lowpass 500 x", bad_width("lowpass", 2, "x")),
    ("lowpass -2 500 x", bad_width("lowpass", 3, "x")),
    ("lowpass 500 1 2", arity("lowpass", "lowpass takes at most 3 arguments")),
    ("lowpass -2 500 1 2", arity("lowpass", "lowpass takes at most 3 arguments")),
    # bandpass
    ("bandpass", arity("bandpass", "bandpass takes at least frequency and width arguments")),
    ("bandpass 1000", arity("bandpass", "bandpass takes frequency and width arguments")),
    ("bandpass -c", arity("bandpass", "bandpass takes frequency and width arguments")),
    ("bandpass -c 1000", arity("bandpass", "bandpass takes frequency and width arguments")),
    ("bandpass 9000 100", out_of_band("bandpass", "9000")),
    ("bandpass 1000 x", bad_width("bandpass", 2, "x")),
    ("bandpass -c 1000 x", bad_width("bandpass", 3, "x")),
    ("bandpass 1000 100 5", arity("bandpass", "bandpass takes at most 3 arguments")),
    ("bandpass -c 1000 100 5", arity("bandpass", "bandpass takes at most 3 arguments")),
    # bandreject: frequency before the missing width; width before the arity limit
    ("bandreject", arity("bandreject", "bandreject takes frequency and width arguments")),
    ("bandreject 1000", arity("bandreject", "bandreject takes frequency and width arguments")),
    ("bandreject 9k", out_of_band("bandreject", "9k")),
    ("bandreject 1000 0 5", unit("bandreject", "0", "width must be positive: 0")),
    ("bandreject 1000 100 5", arity("bandreject", "bandreject takes at most 2 arguments")),
    # allpass
    ("allpass 1000", arity("allpass", "allpass takes exactly 2 arguments: frequency width")),
    ("allpass 1000 2s", unit("allpass", "2s", "allpass width unit must be one of [h, k, o, q]: s")),
    ("allpass 1000 -2s", unit("allpass", "-2s", "width must be positive: -2s")),
    # bass, treble
    ("bass", arity("bass", "bass takes at least 1 argument: gain [frequency [width]]")),
    ("treble", arity("treble", "treble takes at least 1 argument: gain [frequency [width]]")),
    ("bass x", unit("bass", "x", "Invalid dB value: x")),
    ("bass inf", unit("bass", "inf", "Invalid dB value: inf")),
    ("treble 3 8000", out_of_band("treble", "8000")),
    ("bass 3 100 0s", unit("bass", "0s", "width must be positive: 0s")),
    ("bass 3 100 y", bad_width("bass", 3, "y")),
    ("bass 1 100 0 4", unit("bass", "0", "width must be positive: 0")),
    ("treble 1 2 3 4", arity("treble", "treble takes at most 3 arguments")),
    # band: index 2 for the width even after -n; only inf and NaN are refused
    ("band", arity("band", "Missing center frequency")),
    ("band -n", arity("band", "Missing center frequency")),
    ("band x", unit("band", "x", "Invalid numeric value: x")),
    ("band -n 1000 y", bad_width("band", 2, "y")),
    ("band nank", unit("band", "nank", "Invalid numeric value: nan")),
    ("band 1k infh", bad_width("band", 2, "infh")),
    # sinc: options and their values
    ("sinc", arity("sinc", "Missing cutoff frequency")),
    ("sinc -r -L", arity("sinc", "Missing cutoff frequency")),
    ("sinc -a", arity("sinc", "-a requires an attenuation value")),
    ("sinc 1k -b", arity("sinc", "-b requires a beta value")),
    ("sinc -p", arity("sinc", "-p requires a phase value")),
    ("sinc -n", arity("sinc", "-n requires a tap count")),
    ("sinc -t", arity("sinc", "-t requires a transition bandwidth")),
    ("sinc -a x 1k", unit("sinc", "x", "invalid attenuation")),
    *[(f"sinc -a {v} 1k", unit("sinc", v, "attenuation must be between 40 and 180")) for v in ("39.9", "181", "nan")],
    ("sinc -b x 1k", unit("sinc", "x", "invalid beta")),
    *[(f"sinc -b {v} 1k", unit("sinc", v, "beta must be between 0 and 256")) for v in ("-1", "257")],
    ("sinc -p x 1k", unit("sinc", "x", "invalid phase")),
    ("sinc -p 101 1k", unit("sinc", "101", "phase must be between 0 and 100")),
    # Tap counts: optional +, digits, at most 4294967295; larger counts do not wrap.
    *[(f"sinc -n {v} 1k", unit("sinc", v, "invalid tap count")) for v in ("-11", "11.0", "+", "1e2", "4294967296", "4294967307")],
    *[(f"sinc -n {v} 1k", unit("sinc", v, "tap count must be between 11 and 32767")) for v in ("10", "32768", "4294967295")],
    ("sinc -t x 1k", unit("sinc", "x", "invalid frequency: x")),
    ("sinc -t 1K 1k", unit("sinc", "1K", "invalid frequency: 1K")),
    ("sinc -t inf 1k", unit("sinc", "inf", "invalid frequency: inf")),
    *[(f"sinc -t {v} 1k", unit("sinc", v, "transition bandwidth must be at least 1 Hz")) for v in ("0.5", "0.0005k", "nan")],
    # sinc: the cutoff frequencies
    ("sinc 1k 2k", arity("sinc", "Unexpected argument: 2k")),
    ("sinc 1k 2k -a 10", arity("sinc", "Unexpected argument: 2k")),
    ("sinc 1k-2k-3k", unit("sinc", "1k-2k-3k", "invalid cutoff range")),
    ("sinc 1k--3k", unit("sinc", "1k--3k", "invalid cutoff range")),
    ("sinc -", unit("sinc", "-", "empty frequency")),
    ("sinc x", unit("sinc", "x", "invalid frequency: x")),
    ("sinc 1k-y", unit("sinc", "1k-y", "invalid frequency: y")),
    ("sinc -1k-3k", unit("sinc", "-1k-3k", "invalid frequency: 1k-3k")),
    ("sinc 1e-3", unit("sinc", "1e-3", "invalid frequency: 1e")),
    # sinc: conflicts, after all tokens; missing cutoff first, then -a/-b, then -t/-n
    ("sinc -t 100 1k -n 101", flag("sinc", "-n", "-t and -n are mutually exclusive for the same side")),
    ("sinc -n 101 -t 100 1k", flag("sinc", "-n", "-t and -n are mutually exclusive for the same side")),
    ("sinc 1k -t 100 -n 101", flag("sinc", "-n", "-t and -n are mutually exclusive for the same side")),
    ("sinc -a 60 -b 5 1k", flag("sinc", "-b", "-a and -b are mutually exclusive")),
    ("sinc -a 60 -b 5 -t 100 -n 101 1k", flag("sinc", "-b", "-a and -b are mutually exclusive")),
    ("sinc -a 60 -b 5", arity("sinc", "Missing cutoff frequency")),
    ("sinc -a 30 -b 5 1k", unit("sinc", "30", "attenuation must be between 40 and 180")),
    # hilbert
    ("hilbert 5", unsupported("hilbert", "Unexpected argument: 5", "supported options: -n taps")),
    ("hilbert -N 5", unsupported("hilbert", "Unexpected argument: -N", "supported options: -n taps")),
    ("hilbert -n 101 x", unsupported("hilbert", "Unexpected argument: x", "supported options: -n taps")),
    ("hilbert -n", arity("hilbert", "-n requires a tap count")),
    ("hilbert -n 101 -n", arity("hilbert", "-n requires a tap count")),
    *[(f"hilbert -n {v}", unit("hilbert", v, "invalid tap count")) for v in ("x", "-3", "4294967297")],
    ("hilbert -n 2", unit("hilbert", "2", "taps must be in range [3, 32767]")),
    ("hilbert -n 32769", unit("hilbert", "32769", "taps must be in range [3, 32767]")),
    ("hilbert -n 100", unit("hilbert", "100", "taps must be odd")),
    ("hilbert -n +0100", unit("hilbert", "100", "taps must be odd")),
    ("hilbert -n 101 -n 100", unit("hilbert", "100", "taps must be odd")),
    # loudness: three reads, the arity limit, then the ranges in order
    ("loudness x", unit("loudness", "x", "invalid gain")),
    ("loudness -10 y", unit("loudness", "y", "invalid reference")),
    *[(f"loudness -10 65 {v}", unit("loudness", v, "invalid tap count")) for v in ("z", "1023.0", "-1023", "4294967296")],
    ("loudness -10 65 1023 1", arity("loudness", "too many arguments")),
    ("loudness x 65 1023 1", unit("loudness", "x", "invalid gain")),
    ("loudness -60", unit("loudness", "-60", "gain must be in range [-50, 15]")),
    ("loudness 15.5", unit("loudness", "15.5", "gain must be in range [-50, 15]")),
    ("loudness nan", unit("loudness", "NaN", "gain must be in range [-50, 15]")),
    ("loudness -60 40 5", unit("loudness", "-60", "gain must be in range [-50, 15]")),
    ("loudness -10 49", unit("loudness", "49", "reference must be in range [50, 75]")),
    ("loudness -10 65 126", unit("loudness", "126", "half-taps must be in range [127, 2047]")),
    ("loudness -10 65 +02048", unit("loudness", "2048", "half-taps must be in range [127, 2047]")),
]


@pytest.mark.parametrize(("text", "canonical"), VALID)
def test_valid_strings_give_their_canonical_text(text, canonical):
    assert validate_one(text) == (True, "OK", canonical)


@pytest.mark.parametrize(("text", "report"), INVALID)
def test_invalid_strings_give_their_report(text, report):
    assert validate_one(text) == (False, f"{report} original='{text}'", text)


EFFECT_NAMES = [
    "vol", "dcshift", "contrast", "overdrive", "tremolo", "fade", "reverse", "equalizer", "highpass",
    "lowpass", "bandpass", "bandreject", "allpass", "bass", "treble", "band", "sinc", "hilbert", "loudness",
]
ODD_TOKENS = [
    '"', '\\', '""', '\\"', "-", "--", "=", "+", "-n", "-c", "-1", "-2", "-r", "-a", "-b", "-p", "-t", "-M",
    "-I", "-L", "q", "h", "l", "t", "p", "dB", "power", "amplitude", "inf", "-inf", "nan", "NaN", "-0",
    "1e999", "-1e999", "1e-400", "4294967295", "4294967296", "18446744073709551616", "9" * 400, "1k-3k",
    "1k-", "-3k", "2q", "0.5s", "1:30", "8000s", "1.5+100s", "\u00e9", "\u3000", "\U0001f600", "\x00",
]
TOKEN = st.one_of(st.sampled_from(ODD_TOKENS), st.text(max_size=8), st.floats().map(repr),
                  st.integers(min_value=-(10**30), max_value=10**30).map(str))
EFFECT_STRING = st.builds(
    lambda name, tokens, seps: name + "".join(sep + tok for sep, tok in zip(seps, tokens)),
    st.sampled_from(EFFECT_NAMES + [n.upper() for n in EFFECT_NAMES]),
    st.lists(TOKEN, max_size=8),
    st.lists(st.sampled_from([" ", "  ", "\t", "\u00a0", "", '"', "\\ "]), min_size=8, max_size=8),
)


@settings(max_examples=400, deadline=None)
@given(st.lists(EFFECT_STRING, max_size=5))
def test_token_soup_never_raises_and_reports_every_string(chain):
    results = ext.audio.validate_effects_chain(chain)
    assert len(results) == len(chain)
    for text, result in zip(chain, results):
        assert isinstance(result, tuple) and len(result) == 3
        ok, message, third = result
        assert isinstance(ok, bool) and isinstance(message, str) and isinstance(third, str)
        if ok:
            assert message == "OK"
        else:
            assert third == text and message.endswith(f" original='{text}'")
