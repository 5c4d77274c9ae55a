"""Argument grammars of compand, mcompand, echo, echos, chorus, flanger, phaser, reverb, pitch,
tempo, speed, stretch and rate, seen through validate_effects_chain."""

import pytest

from corvala import ext


# Report templates; each returns the full report for the effect string it is given.
def parse(effect, index, token, reason, hint):
    where = (f" index={index}" if index is not None else "") + (f" token='{token}'" if token is not None else "")
    return lambda o: f"[EFFECT_PARSE_ERROR] effect='{effect}'{where} reason='{reason}' hint='{hint}' original='{o}'"


def arity(effect, reason):
    return lambda o: f"[ARITY_ERROR] effect='{effect}' reason='{reason}' original='{o}'"


def flag(effect, token, reason):
    return lambda o: f"[FLAG_ERROR] effect='{effect}' token='{token}' reason='{reason}' original='{o}'"


def unit(effect, token, reason):
    return lambda o: f"[UNIT_ERROR] effect='{effect}' token='{token}' reason='{reason}' original='{o}'"


def unsupported(effect, detail, hint):
    return lambda o: f"[UNSUPPORTED] effect='{effect}' detail='{detail}' hint='{hint}' original='{o}'"


def input_error(message):
    return lambda o: f"[INPUT_ERROR] {message}"


VOICE = " 50 0.4 0.25 2 -s"
PAIR = " 10 0.1"
BAND = '"0.3,1 -60"'

VALID = [
    # compand
    ("compand 0.3,1 -70,-70,-60,-20 -5 -90 0.2",
     "compand 0.300000,1.000000 -70.000000,-70.000000,-60.000000,-20.000000 -5.000000 -90.000000 0.200000"),
    ("compand 0.3,1 6:-70,-70,-20",
     "compand 0.300000,1.000000 6.000000:-70.000000,-70.000000,-20.000000,-20.000000 0.000000 0.000000 0.000000"),
    ("compand 0.1,0.2,0.3,0.4 -inf,-90,-60,-20,-inf,-10",
     "compand 0.100000,0.200000,0.300000,0.400000 -inf,-90.000000,-60.000000,-20.000000,-inf,-10.000000"
     " 0.000000 0.000000 0.000000"),
    ("COMPAND 0.3,1 -60 2 -3 0", "compand 0.300000,1.000000 -60.000000,-60.000000 2.000000 -3.000000 0.000000"),
    # mcompand
    ('mcompand "0.005,0.1 -47,-40,-34,-34 0 0 0.01" 1.6k "0.003,0.05 6:-60,-60,0,-5 -3 0 0.010000001"',
     'mcompand "0.005000,0.100000 -47.000000,-40.000000,-34.000000,-34.000000 0.000000 0.000000 0.010000"'
     ' 1600.000000 "0.003000,0.050000 6.000000:-60.000000,-60.000000,0.000000,-5.000000 -3.000000 0.000000'
     ' 0.010000"'),
    ('mcompand "0.1,0.2 -60,-40" 500 "0.1,0.2 -60,-40" 7999.5 "0.1,0.2 -60"',
     'mcompand "0.100000,0.200000 -60.000000,-40.000000 0.000000 0.000000 0.000000" 500.000000'
     ' "0.100000,0.200000 -60.000000,-40.000000 0.000000 0.000000 0.000000" 7999.500000'
     ' "0.100000,0.200000 -60.000000,-60.000000 0.000000 0.000000 0.000000"'),
    # echo, echos
    ("echo 0.8 0.9 1000 0.3", "echo 0.800000 0.900000 1000.000000 0.300000"),
    ("echo 1 5 10 1", "echo 1.000000 5.000000 10.000000 1.000000"),
    ("echos 0 0 1e-3 0 2 1 3 0.5 4 0.5 5 0.5 6 0.5 7 0.5",
     "echos 0.000000 0.000000 0.001000 0.000000 2.000000 1.000000 3.000000 0.500000 4.000000 0.500000"
     " 5.000000 0.500000 6.000000 0.500000 7.000000 0.500000"),
    # chorus
    ("chorus 0.7 0.9 55 0.4 0.25 2 -t", "chorus 0.700000 0.900000 55.000000 0.400000 0.250000 2.000000 -t"),
    ("chorus 1 0 20 0 0.1 0 -s 100 1 5 10 -t",
     "chorus 1.000000 0.000000 20.000000 0.000000 0.100000 0.000000 -s 100.000000 1.000000 5.000000 10.000000 -t"),
    ("chorus 0.5 0.9" + VOICE * 7,
     "chorus 0.500000 0.900000" + " 50.000000 0.400000 0.250000 2.000000 -s" * 7),
    # flanger
    ("flanger", "flanger 0.000000 2.000000 0.000000 71.000000 0.500000 sine 25.000000 linear"),
    ("flanger 0 2 0 71 0.5 TRI", "flanger 0.000000 2.000000 0.000000 71.000000 0.500000 triangle 25.000000 linear"),
    ("flanger 30 10 -95 100 10 sin 100 QUAD",
     "flanger 30.000000 10.000000 -95.000000 100.000000 10.000000 sine 100.000000 quadratic"),
    ("flanger 1 2 3 4 5 triangle 6 lin",
     "flanger 1.000000 2.000000 3.000000 4.000000 5.000000 triangle 6.000000 linear"),
    # phaser
    ("phaser", "phaser 0.400000 0.740000 3.000000 0.400000 0.500000 -s"),
    ("phaser -t", "phaser 0.400000 0.740000 3.000000 0.400000 0.500000 -t"),
    ("phaser 0.5 -s", "phaser 0.500000 0.740000 3.000000 0.400000 0.500000 -s"),
    ("phaser 1 0 5 0.99 2 -t", "phaser 1.000000 0.000000 5.000000 0.990000 2.000000 -t"),
    # reverb
    ("reverb", "reverb 50.000000 50.000000 100.000000 100.000000 0.000000 0.000000"),
    ("reverb --wet-only", "reverb -w 50.000000 50.000000 100.000000 100.000000 0.000000 0.000000"),
    ("reverb -w 0 100 0 0 500 -10", "reverb -w 0.000000 100.000000 0.000000 0.000000 500.000000 -10.000000"),
    ("reverb 80 20 50 30 10 10", "reverb 80.000000 20.000000 50.000000 30.000000 10.000000 10.000000"),
    # pitch
    ("pitch 100", "pitch 100.000000"),
    ("pitch 0 30", "pitch 0.000000 30.000000"),
    ("pitch -q -300 82 14 12", "pitch -q -300.000000 82.000000 14.000000 12.000000"),
    # tempo
    ("tempo 1.2", "tempo 1.200000"),
    ("tempo -q -l 2 10 0 5", "tempo -q -l 2.000000 10.000000 0.000000 5.000000"),
    ("tempo -s -q 0.5 40", "tempo -q -s 0.500000 40.000000"),
    # speed
    ("speed 100c", "speed 1.059463"),
    ("speed -1200c", "speed 0.500000"),
    ("speed 2", "speed 2.000000"),
    # stretch
    ("stretch", "stretch 1.000000 20.000000 lin 0.000000 0.000000"),
    ("stretch 2 20 linear", "stretch 2.000000 20.000000 lin 0.000000 0.000000"),
    ("stretch 0.5 40 L 0.3 0.2", "stretch 0.500000 40.000000 lin 0.300000 0.200000"),
    # rate
    ("rate 8000", "rate -h 8000.000000"),
    ("rate -v 8000", "rate -v 8000.000000"),
    ("rate -l 16000 -v", "rate -v 16000.000000"),
    ("rate 44100 -q 22050", "rate -q 22050.000000"),
    ("rate -5", "rate -h -5.000000"),
]

COMPAND_ARITY = "compand takes 2 to 5 arguments"
MCOMPAND_ARITY = "mcompand takes quoted compand args and crossover frequencies (at least 2 bands)"
INCREASING = "transfer function input values must be strictly increasing: {} <= {}"
INCREASING_HINT = "ensure in-dB values are strictly increasing"
ECHO_ARITY = "{} gain-in gain-out delay decay [delay decay ...]"
CHORUS_ARITY = "chorus gain-in gain-out <delay decay speed depth -s|-t>"
FLANGER_ARITY = "flanger [delay depth regen width speed shape phase interp]"
PHASER_ARITY = "phaser [gain-in gain-out delay decay speed [-s|-t]]"
REVERB_ARITY = "reverb [-w|--wet-only] [reverberance [HF-damping [room-scale [stereo-depth [pre-delay [wet-gain]]]]]]"
PITCH_TOO_MANY = "pitch takes at most 4 arguments (plus optional -q)"
TEMPO_TOO_MANY = "tempo takes at most 4 arguments (plus optional flags)"
SPEED_ARITY = "speed takes exactly 1 argument: factor[c]"
SPEED_RANGE = "speed factor must be positive and finite"

INVALID = [
    # compand: arity, attack/decay list, transfer list, levels and delay, in that order
    ("compand 0.3,1", arity("compand", COMPAND_ARITY)),
    ("compand 0.3,1 -60 0 0 0 0", arity("compand", COMPAND_ARITY)),
    ("compand 0.3 -60,-20", unit("compand", "0.3", "compand attack/decay list must contain pairs: 0.3")),
    ("compand x,1 -60,-20", unit("compand", "x", "invalid attack value: x")),
    ("compand 0.3,y -60", unit("compand", "y", "invalid decay value: y")),
    ("compand 0,1 -60,-20", unit("compand", "0,1", "attack and decay values must be strictly positive")),
    ("compand 0.3,1,0.2,-1 -60", unit("compand", "0.3,1,0.2,-1", "attack and decay values must be strictly positive")),
    ("compand 0.3,1 x:-60", unit("compand", "x", "invalid soft-knee value: x")),
    ("compand 0.3,1 -60,abc", unit("compand", "abc", "invalid transfer value: abc")),
    ("compand 0.3,1 6:", unit("compand", "", "invalid transfer value: ")),
    ("compand 0.3,1 -60,-20,-70,-10",
     parse("compand", 1, "-70", INCREASING.format(-70, -60), INCREASING_HINT)),
    ("compand 0.3,1 -60,-20,-60.0,-10",
     parse("compand", 1, "-60.0", INCREASING.format(-60, -60), INCREASING_HINT)),
    ("compand 0.3,1 -80,-80,-60,-60,-65.5",
     parse("compand", 2, "-65.5", INCREASING.format(-65.5, -60), INCREASING_HINT)),
    ("compand 0.3,1 -60 loud", unit("compand", "loud", "invalid gain value: loud")),
    ("compand 0.3,1 -60 0 vol", unit("compand", "vol", "invalid initial volume value: vol")),
    ("compand 0.3,1 -60 0 0 x", unit("compand", "x", "invalid delay value: x")),
    ("compand 0.3,1 -60 0 0 -0.1", unit("compand", "-0.1", "delay must be non-negative")),
    # non-finite values that would reach the compander are refused as unreadable
    ("compand 0.3,1 -60 0 0 inf", unit("compand", "inf", "invalid delay value: inf")),
    ("compand 0.3,1 -60,nan", unit("compand", "nan", "invalid transfer value: nan")),
    ("compand 0.3,1 -60 -inf", unit("compand", "-inf", "invalid gain value: -inf")),
    # mcompand: band errors carry the band number, crossovers and bands are checked in order
    ('mcompand "0.3,1 -60"', arity("mcompand", MCOMPAND_ARITY)),
    (f"mcompand {BAND} 100", arity("mcompand", MCOMPAND_ARITY)),
    (f"mcompand {BAND} 100 {BAND} 200", arity("mcompand", MCOMPAND_ARITY)),
    (f'mcompand "0.3,1 -60,-20,-70,-10" 1000 {BAND}',
     parse("mcompand", 1, "-70", "Band 0: " + INCREASING.format(-70, -60), INCREASING_HINT)),
    (f'mcompand {BAND} 1000 "0,1 -60"',
     unit("mcompand", "0,1", "Band 1: attack and decay values must be strictly positive")),
    (f'mcompand {BAND} 1000 "0.3,1"', arity("mcompand", "mcompand takes 2 to 5 arguments")),
    (f"mcompand {BAND} 1.2.3k {BAND}", unit("mcompand", "1.2.3k", "Invalid numeric value: 1.2.3")),
    (f"mcompand {BAND} 8k {BAND}",
     unit("mcompand", "8k", "crossover frequency must be between 0 and 8000 Hz: 8k")),
    (f"mcompand {BAND} 0 {BAND}", unit("mcompand", "0", "crossover frequency must be between 0 and 8000 Hz: 0")),
    (f"mcompand {BAND} 2000 {BAND} 1k {BAND}",
     unit("mcompand", "1k", "crossover frequencies must be strictly increasing: 1000 <= 2000")),
    (f'mcompand {BAND} 500 "x,1 -60" 9000 {BAND}', unit("mcompand", "x", "Band 1: invalid attack value: x")),
    (f'mcompand {BAND} 9000 "x,1 -60"',
     unit("mcompand", "9000", "crossover frequency must be between 0 and 8000 Hz: 9000")),
    ('mcompand "0.3,1 -60 0 0 0.01" 1000 "0.3,1 -60 0 0 0.02"',
     unsupported("mcompand", "divergent compander delays are not supported",
                 "ensure all compand argument strings use the same delay value")),
    # echo, echos
    ("echo 0.8 0.9 1000", arity("echo", ECHO_ARITY.format("echo"))),
    ("echos 0.8 0.9 1000 0.3 5", arity("echos", ECHO_ARITY.format("echos"))),
    ("echo x 0.9 10 0.5", parse("echo", 1, "x", "invalid gain-in", "must be a float [0, 1]")),
    ("echo 1.5 0.9 10 0.5", parse("echo", 1, "1.5", "gain-in 1.5 out of range [0, 1]", "must be a float [0, 1]")),
    ("echo nan 0.9 10 0.5", parse("echo", 1, "nan", "gain-in NaN out of range [0, 1]", "must be a float [0, 1]")),
    ("echo 0.5 y 10 0.5", parse("echo", 2, "y", "invalid gain-out", "must be a float >= 0")),
    ("echo 0.5 -1 10 0.5", parse("echo", 2, "-1", "gain-out -1 must be >= 0", "must be a float >= 0")),
    ("echo 0.5 inf 10 0.5", parse("echo", 2, "inf", "invalid gain-out", "must be a float >= 0")),
    ("echo 0.8 0.9 0 0.5", parse("echo", 3, "0", "delay 0 must be > 0", "must be a positive float (ms)")),
    ("echos 0.8 0.9 10 0.5 d 0.5", parse("echos", 5, "d", "invalid delay", "must be a positive float (ms)")),
    ("echo 0.8 0.9 inf 0.5", parse("echo", 3, "inf", "invalid delay", "must be a positive float (ms)")),
    ("echo 0.8 0.9 10 0.5 20 1.01",
     parse("echo", 6, "1.01", "decay 1.01 out of range [0, 1]", "must be a float [0, 1]")),
    ("echo 0.8 0.9 10 z", parse("echo", 4, "z", "invalid decay", "must be a float [0, 1]")),
    ("echo 0.8 0.9" + PAIR * 8,
     parse("echo", None, None, "max 7 taps for echo, found 8", "reduce the number of delay/decay pairs")),
    ("echos 0.8 0.9" + PAIR * 8,
     parse("echos", None, None, "max 7 taps for echos, found 8", "reduce the number of delay/decay pairs")),
    # chorus
    ("chorus 0.5 0.9 50 0.4 0.25 2", arity("chorus", CHORUS_ARITY)),
    ("chorus 0.5 0.9 50 0.4 0.25 2 -s 50", arity("chorus", CHORUS_ARITY)),
    ("chorus 0.5 0.9 50 0.4 0.25 2 -x", flag("chorus", "-x", "invalid modulation flag (must be -s or -t)")),
    ("chorus 0.5 0.9 50 0.4 0.25 x -x", parse("chorus", 6, "x", "invalid depth", "must be a float [0, 10] (ms)")),
    ("chorus x 0.9" + VOICE, parse("chorus", 1, "x", "invalid gain-in", "must be a float [0, 1]")),
    ("chorus 2 0.9" + VOICE, parse("chorus", 1, "2", "gain-in 2 out of range [0, 1]", "must be between 0 and 1")),
    ("chorus 0.5 y" + VOICE, parse("chorus", 2, "y", "invalid gain-out", "must be a float >= 0")),
    ("chorus 0.5 -0.1" + VOICE, parse("chorus", 2, "-0.1", "gain-out -0.1 must be positive", "must be >= 0")),
    ("chorus 0.5 0.9 19 0.4 0.25 2 -s",
     parse("chorus", 3, "19", "delay 19 out of range [20, 100]", "must be between 20 and 100 ms")),
    ("chorus 0.5 0.9 d 0.4 0.25 2 -s", parse("chorus", 3, "d", "invalid delay", "must be a float [20, 100] (ms)")),
    ("chorus 0.5 0.9 50 x 0.25 2 -s", parse("chorus", 4, "x", "invalid decay", "must be a float [0, 1]")),
    ("chorus 0.5 0.9 50 -1 0.25 2 -s",
     parse("chorus", 4, "-1", "decay -1 out of range [0, 1]", "must be between 0 and 1")),
    ("chorus 0.5 0.9 50 0.4 0.05 2 -s",
     parse("chorus", 5, "0.05", "speed 0.05 out of range [0.1, 5]", "must be between 0.1 and 5 Hz")),
    ("chorus 0.5 0.9 50 0.4 s 2 -s", parse("chorus", 5, "s", "invalid speed", "must be a float [0.1, 5] (Hz)")),
    ("chorus 0.5 0.9 50 0.4 0.25 11 -s",
     parse("chorus", 6, "11", "depth 11 out of range [0, 10]", "must be between 0 and 10 ms")),
    ("chorus 0.5 0.9" + VOICE + " 101 0.4 0.25 2 -t",
     parse("chorus", 8, "101", "delay 101 out of range [20, 100]", "must be between 20 and 100 ms")),
    ("chorus 0.5 0.9" + VOICE * 8,
     parse("chorus", None, None, "max 7 voices for chorus, found 8", "reduce the number of voice parameters")),
    # flanger
    ("flanger 0 2 0 71 0.5 sine 25 linear 1", arity("flanger", FLANGER_ARITY)),
    ("flanger 31", parse("flanger", 1, "31", "delay 31 out of range [0, 30]", "must be between 0 and 30 ms")),
    ("flanger x", parse("flanger", 1, "x", "invalid delay", "must be a float [0, 30] (ms)")),
    ("flanger 0 x", parse("flanger", 2, "x", "invalid depth", "must be a float [0, 10] (ms)")),
    ("flanger 0 10.5", parse("flanger", 2, "10.5", "depth 10.5 out of range [0, 10]", "must be between 0 and 10 ms")),
    ("flanger 0 2 -96",
     parse("flanger", 3, "-96", "regen -96 out of range [-95, 95]", "must be between -95 and 95 percent")),
    ("flanger 0 2 r", parse("flanger", 3, "r", "invalid regen", "must be a float [-95, 95] (%)")),
    ("flanger 0 2 0 101",
     parse("flanger", 4, "101", "width 101 out of range [0, 100]", "must be between 0 and 100 percent")),
    ("flanger 0 2 0 w", parse("flanger", 4, "w", "invalid width", "must be a float [0, 100] (%)")),
    ("flanger 0 2 0 71 0",
     parse("flanger", 5, "0", "speed 0 out of range [0.1, 10]", "must be between 0.1 and 10 Hz")),
    ("flanger 0 2 0 71 s", parse("flanger", 5, "s", "invalid speed", "must be a float [0.1, 10] (Hz)")),
    ("flanger 0 2 0 71 0.5 saw", parse("flanger", 6, "saw", "invalid wave shape: saw", "must be sine or triangle")),
    ("flanger 0 2 0 71 0.5 sine -1",
     parse("flanger", 7, "-1", "phase -1 out of range [0, 100]", "must be between 0 and 100 percent")),
    ("flanger 0 2 0 71 0.5 sine p", parse("flanger", 7, "p", "invalid phase", "must be a float [0, 100] (%)")),
    ("flanger 0 2 0 71 0.5 sine 25 cubic",
     parse("flanger", 8, "cubic", "invalid interpolation: cubic", "must be linear or quadratic")),
    # phaser: the token shape is scanned before any number is read
    ("phaser -s 0.5", arity("phaser", PHASER_ARITY)),
    ("phaser 1 2 3 4 5 6", arity("phaser", PHASER_ARITY)),
    ("phaser -s -t", flag("phaser", "-t", "duplicate or multiple modulation flags")),
    ("phaser x -s -s", flag("phaser", "-s", "duplicate or multiple modulation flags")),
    ("phaser g", parse("phaser", 1, "g", "invalid gain-in", "must be a float [0, 1]")),
    ("phaser 1.1", parse("phaser", 1, "1.1", "gain-in 1.1 out of range [0, 1]", "must be between 0 and 1")),
    ("phaser 0.4 x", parse("phaser", 2, "x", "invalid gain-out", "must be a float >= 0")),
    ("phaser 0.4 -1", parse("phaser", 2, "-1", "gain-out -1 must be >= 0", "must be positive")),
    ("phaser 0.4 0.7 5.5", parse("phaser", 3, "5.5", "delay 5.5 out of range [0, 5]", "must be between 0 and 5 ms")),
    ("phaser 0.4 0.7 d", parse("phaser", 3, "d", "invalid delay", "must be a float [0, 5] (ms)")),
    ("phaser 0.4 0.7 3 1",
     parse("phaser", 4, "1", "decay 1 out of range [0, 0.99]", "must be between 0 and 0.99")),
    ("phaser 0.4 0.7 3 d", parse("phaser", 4, "d", "invalid decay", "must be a float [0, 0.99]")),
    ("phaser 0.4 0.7 3 0.4 3 -t",
     parse("phaser", 5, "3", "speed 3 out of range [0.1, 2.0]", "must be between 0.1 and 2 Hz")),
    ("phaser 0.4 0.7 3 0.4 s", parse("phaser", 5, "s", "invalid speed", "must be a float [0.1, 2.0] (Hz)")),
    # reverb: the -w flag shifts the positions of the numbers
    ("reverb 1 2 3 4 5 6 7", arity("reverb", REVERB_ARITY)),
    ("reverb -w 1 2 3 4 5 6 7", arity("reverb", REVERB_ARITY)),
    ("reverb -w 101",
     parse("reverb", 2, "101", "reverberance 101 out of range [0, 100]", "must be between 0 and 100")),
    ("reverb r", parse("reverb", 1, "r", "invalid reverberance", "must be a float [0, 100]")),
    ("reverb 50 -w", parse("reverb", 2, "-w", "invalid HF-damping", "must be a float [0, 100]")),
    ("reverb 50 -1", parse("reverb", 2, "-1", "HF-damping -1 out of range [0, 100]", "must be between 0 and 100")),
    ("reverb 50 50 x", parse("reverb", 3, "x", "invalid room-scale", "must be a float [0, 100]")),
    ("reverb 50 50 -1", parse("reverb", 3, "-1", "room-scale -1 out of range [0, 100]", "must be between 0 and 100")),
    ("reverb 50 50 100 x", parse("reverb", 4, "x", "invalid stereo-depth", "must be a float [0, 100]")),
    ("reverb --wet-only 50 50 100 100.5",
     parse("reverb", 5, "100.5", "stereo-depth 100.5 out of range [0, 100]", "must be between 0 and 100")),
    ("reverb 50 50 100 100 501",
     parse("reverb", 5, "501", "pre-delay 501 out of range [0, 500]", "must be between 0 and 500 ms")),
    ("reverb 50 50 100 100 x", parse("reverb", 5, "x", "invalid pre-delay", "must be a float [0, 500] (ms)")),
    ("reverb 50 50 100 100 0 x", parse("reverb", 6, "x", "invalid wet-gain", "must be a float [-10, 10] (dB)")),
    ("reverb 50 50 100 100 0 11",
     parse("reverb", 6, "11", "wet-gain 11 out of range [-10, 10]", "must be between -10 and 10 dB")),
    # pitch
    ("pitch", arity("pitch", "pitch takes at least shift argument")),
    ("pitch -q", arity("pitch", "pitch missing shift argument")),
    ("pitch 100 1 2 3 4", arity("pitch", PITCH_TOO_MANY)),
    ("pitch -q 100 1 2 3 4", arity("pitch", PITCH_TOO_MANY)),
    ("pitch x", unit("pitch", "x", "Invalid shift value: x")),
    ("pitch -q -q 100", unit("pitch", "-q", "Invalid shift value: -q")),
    ("pitch 1 a", unit("pitch", "a", "Invalid segment value: a")),
    ("pitch 1 2 b", unit("pitch", "b", "Invalid search value: b")),
    ("pitch 1 2 3 c", unit("pitch", "c", "Invalid overlap value: c")),
    ("pitch inf", unit("pitch", "inf", "Invalid shift value: inf")),
    ("pitch 100 nan", unit("pitch", "nan", "Invalid segment value: nan")),
    # tempo
    ("tempo", arity("tempo", "tempo missing factor argument")),
    ("tempo -q -m", arity("tempo", "tempo missing factor argument")),
    ("tempo -m -s 1.2",
     unsupported("tempo", "Conflicting tempo mode flags: -m and -s", "use only one of -m, -s, or -l")),
    ("tempo -q -q 1.2", unsupported("tempo", "Duplicate -q flag", "remove duplicate -q")),
    ("tempo -l -q -l 1", unsupported("tempo", "Duplicate -l flag", "remove duplicate -l")),
    ("tempo fast", unit("tempo", "fast", "Invalid factor value: fast")),
    ("tempo 0", unit("tempo", "0", "factor must be positive: 0")),
    ("tempo -0.50", unit("tempo", "-0.50", "factor must be positive: -0.5")),
    ("tempo nan", unit("tempo", "nan", "factor must be positive: NaN")),
    ("tempo inf", unit("tempo", "inf", "Invalid factor value: inf")),
    ("tempo 1.2 -q", unit("tempo", "-q", "Invalid segment value: -q")),
    ("tempo 1 2 x", unit("tempo", "x", "Invalid search value: x")),
    ("tempo -s 1 2 3 x", unit("tempo", "x", "Invalid overlap value: x")),
    ("tempo 1 2 3 4 5", arity("tempo", TEMPO_TOO_MANY)),
    # speed
    ("speed", arity("speed", SPEED_ARITY)),
    ("speed 1 2", arity("speed", SPEED_ARITY)),
    ("speed xc", unit("speed", "xc", "invalid cents value")),
    ("speed c", unit("speed", "c", "invalid cents value")),
    ("speed fast", unit("speed", "fast", "invalid speed factor")),
    ("speed 100C", unit("speed", "100C", "invalid speed factor")),
    ("speed 0", unit("speed", "0", SPEED_RANGE)),
    ("speed -1", unit("speed", "-1", SPEED_RANGE)),
    ("speed inf", unit("speed", "inf", SPEED_RANGE)),
    ("speed nan", unit("speed", "nan", SPEED_RANGE)),
    ("speed 2000000c", unit("speed", "2000000c", SPEED_RANGE)),
    # stretch: the factor is judged after every argument
    ("stretch 2 20 cos", unit("stretch", "cos", "only 'lin' fade type is supported")),
    ("stretch -1", unit("stretch", "-1", "factor must be > 0")),
    ("stretch -2.50 10", unit("stretch", "-2.5", "factor must be > 0")),
    ("stretch 0.000", unit("stretch", "0", "factor must be > 0")),
    ("stretch -1 20 cos", unit("stretch", "cos", "only 'lin' fade type is supported")),
    ("stretch -1 20 lin 0 0 6", arity("stretch", "too many arguments")),
    ("stretch x", unit("stretch", "x", "invalid factor")),
    ("stretch 2 w", unit("stretch", "w", "invalid window")),
    ("stretch 2 20 lin s", unit("stretch", "s", "invalid shift ratio")),
    ("stretch 2 20 lin 0 f", unit("stretch", "f", "invalid fading ratio")),
    ("stretch 2 inf", unit("stretch", "inf", "invalid window")),
    # rate
    ("rate", arity("rate", "rate requires a target sample rate")),
    ("rate -v", arity("rate", "rate requires a target sample rate")),
    ("rate 8k", input_error("Invalid argument for rate: 8k")),
    ("rate -x 8000", input_error("Invalid argument for rate: -x")),
    ("rate inf", input_error("Invalid argument for rate: inf")),
]


@pytest.mark.parametrize(("text", "canonical"), VALID, ids=[t for t, _ in VALID])
def test_valid_string_gives_its_canonical_text(text, canonical):
    assert ext.audio.validate_effects_chain([text]) == [(True, "OK", canonical)]


@pytest.mark.parametrize(("text", "report"), INVALID, ids=[t for t, _ in INVALID])
def test_invalid_string_gives_its_report(text, report):
    assert ext.audio.validate_effects_chain([text]) == [(False, report(text), text)]
