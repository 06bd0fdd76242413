"""Writes the synthetic field files under tests/data/fwd/, each reproducing
line for line the shape one device family writes (the numbers are invented):

  device_a.f25  F25 as one field program writes it: the header line count in
                field 3 of 5001, a header of exactly that many lines holding
                the first station's 5301/5302/5303 group and 5041..5044
                comments, integer stations, a quoted and padded lane code,
                GPS with signed zero-padded degrees, nine sensors at 0..1800 mm
  device_b.f25  F25 as another program writes it: a header shorter than its
                count (a 5280 ends it), decimal stations, an unquoted lane
                code (NA), zero-padded stresses, one trailing field after the
                readings, GPS after a GPS time, nine sensors at 0..2100 mm
  survey.dat    JILS: a "Key: value" header, blank-separated drop lines in
                mils and kips, a trailer per station with the completion
                time, air temperature, GPS in degrees and decimal minutes and
                a note; one basin with a dead sensor (0.00), one with an outer
                sensor far above the centre
  expected.csv  what a reader must find in them: one row per drop line, with
                its file, line, station, lane, drop number, the load (kPa for
                F25, kips for JILS), date and time, temperatures, latitude,
                longitude (signed decimal degrees), deflections as written
                (micrometres for F25, mils for JILS, ';'-separated) and
                whether the basin must be flagged

Every line ends in CR LF, as the devices write them.

Usage: python3 tools/make_fwd_samples.py [OUTPUT_FOLDER]   (default tests/data/fwd)
"""
import csv
import math
import os
import random
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
OFFSETS_A = [0, 200, 300, 450, 600, 900, 1200, 1500, 1800]
OFFSETS_B = [0, 300, 450, 600, 900, 1200, 1500, 1800, 2100]
EXPECTED_FIELDS = ["file", "line", "station", "lane", "drop", "load", "date", "time", "surface", "air",
                   "latitude", "longitude", "deflections", "flagged"]


def basin(rng, offsets, centre):
    """A smooth basin: each reading a fixed fraction of the one before, by distance."""
    out, v = [], centre
    for k, x in enumerate(offsets):
        if k:
            v *= math.exp(-(x - offsets[k - 1]) / 900.0) * rng.uniform(0.97, 0.99)
        out.append(v)
    return out


def sensor_names():
    return ['5200,"LoadCell",    1,  1.000'] + [f'52{k + 1:02d},"D{k + 1}",    1,  1.000' for k in range(9)] + \
        [f'52{k + 1:02d},"NA",    1,  1.000' for k in range(9, 18)]


def offsets_line(offsets):
    return "5020,   150," + ",".join(f"{x:6d}" for x in offsets) + ",N0    " * (18 - len(offsets))


class Writer:
    def __init__(self, name):
        self.name, self.lines, self.expected = name, [], []

    def add(self, line):
        self.lines.append(line)
        return len(self.lines)

    def save(self, folder):
        with open(os.path.join(folder, self.name), "wb") as f:
            f.write("".join(line + "\r\n" for line in self.lines).encode("latin-1"))


def device_a(rng):
    w = Writer("device_a.f25")
    header = ['5001,25.12,1,40, 3, 1,"FieldRec export "', '5002,"A1.CFG"', '5003,"A1.F25"', "5010,0,0",
              "5011,2013,06,28,04,20", offsets_line(OFFSETS_A),
              "5021,   300" + ",     0" * 9 + ",N0    " * 9, "5022, 4, 100, 200, 300, 400",
              "5023,0,0", "5024,1,0", "5029,4,4", '5030,"OPR A   "', '5031,"MW-7            "',
              '5032,"KM 41-42        "'] + sensor_names() + \
        ['5301,2,1,4,2,   41000,1,1,"M       ",2013,06,28,04,20', '5302,0,1,8,0,0,0,1,0,"            "',
         "5303,0,  N0,  N0,  N0", '5041,"synthetic survey"', '5042,"  "', '5043,"  "', '5044,"  "']
    assert len(header) == 40
    for line in header:
        w.add(line)
    for s in range(6):
        station = 41000 + 50 * s
        hh, mm = 4, 33 + 3 * s
        lat, lon = 52.2097983 + 0.0004 * s, 5.3552517 + 0.0001 * s
        asphalt, surface, air = 17.8 + 0.1 * s, 18.4 + 0.1 * s, 18.0
        w.add(f"5280,0,     0,{lat:+11.7f},{lon:+012.7f},   3.7, 4, 10, 100,  0.9")
        w.add(f'5301,2,1,4,2,{station:8d},1,1,"M       ",2013,06,28,{hh:02d},{mm:02d}')
        w.add('5302,0,1,8,0,0,0,1,0,"rs          "')
        w.add(f"5303,0,{asphalt:5.1f},{surface:5.1f},{air:5.1f}")
        centre = rng.uniform(100, 130)
        for drop in range(1, 5):
            stress = 700 + rng.randint(-30, 30) if drop > 1 else 560 + rng.randint(-20, 20)
            d = basin(rng, OFFSETS_A, centre * stress / 700)
            line = w.add(f"{drop:4d},{stress:6d}," + ",".join(f"{v:6.1f}" for v in d))
            w.expected.append([w.name, line, station, "1", drop, stress, "2013-06-28", f"{hh:02d}:{mm:02d}",
                               f"{surface:.1f}", f"{air:.1f}", f"{lat:.7f}", f"{lon:.7f}",
                               ";".join(f"{v:.1f}" for v in d), 0])
    return w


def device_b(rng):
    w = Writer("device_b.f25")
    header = ['5001,25.60,1,40, 3, 1,"SurveyPad       "', '5002,"B.SET"', '5003,"B.F25"', "5010,0,0",
              "5011,2014,07,07,08,30", offsets_line(OFFSETS_B), "5022, 3, 100, 200, 300",
              "5023,0,0", "5024,1,0", "5029,4,4", '5030,"OPR B   "', '5031,"RWY 09/27       "',
              '5032,"TWY C           "', "5301,0,1,3,3,   0.000,1,1,NA      ,2014,07,07,08,30",
              '5302,0,1,8,0,0,0,1,0,"            "', "5303,0,  N0,  N0,  N0", '5041,"  "', '5042,"  "']
    for line in header:
        w.add(line)
    for s in range(5):
        station = 168.700 + 0.025 * s
        hh, mm = 8, 42 + 2 * s
        lat, lon = 51.4733632 + 0.0002 * s, 3.6226845 + 0.0003 * s
        asphalt, surface, air = 21.0 + 0.2 * s, 22.5, 19.5
        w.add(f"5280,0,{5294500.0 + 120 * s:9.1f},{lat:11.7f},{lon:12.7f},  00.3, 2, 9,   0,  0")
        w.add(f"5301,0,1,3,3,{station:8.3f},1,1,NA      ,2014,07,07,{hh:02d},{mm:02d}")
        w.add('5302,0,1,8,0,0,0,1,0,"rs          "')
        w.add(f"5303,0,{asphalt:5.1f},{surface:5.1f},{air:5.1f}")
        centre = rng.uniform(80, 95)
        for drop in range(1, 5):
            stress = 732 + rng.randint(-40, 40)
            d = basin(rng, OFFSETS_B, centre * stress / 732)
            extra = rng.uniform(29, 31)
            line = w.add(f"{drop:4d},  {stress:04d}," + ",".join(f"{v:6.1f}" for v in d) + f",{extra:7.3f}")
            w.expected.append([w.name, line, f"{station:.3f}", "1", drop, stress, "2014-07-07", f"{hh:02d}:{mm:02d}",
                               f"{surface:.1f}", f"{air:.1f}", f"{lat:.7f}", f"{lon:.7f}",
                               ";".join(f"{v:.1f}" for v in d), 0])
    return w


def jils(rng):
    w = Writer("survey.dat")
    for line in ["M5", "Date-Time:  5/13/2019  8:35:57", "Sensors: " + ",  ".join(str(k) for k in range(1, 10)),
                 "Weight/spring: 3", "Location: SiteDay1", "Temp:   71.74", "Operator: xy", "Comments:"]:
        w.add(line)
    offsets_in = [0, 8, 12, 18, 24, 36, 48, 60, 72]
    for s in range(4):
        station, distance = 4 + s, 50.0 + 25.0 * s
        hh, mm = 8, 38 + 4 * s
        air = 72.4 + 0.3 * s
        lat_deg, lat_min, lon_deg, lon_min = 34, 58.140880 + 0.01 * s, 89, 49.034160 + 0.01 * s
        centre = rng.uniform(9, 12)
        for drop in range(1, 5):
            kips = round(rng.uniform(4.6, 6.1), 2)
            d = [round(v, 2) for v in basin(rng, [x * 25.4 for x in offsets_in], centre * kips / 5)]
            flagged = 0
            if s == 1 and drop == 3:
                d[6], flagged = 0.0, 1  # a dead sensor
            if s == 2 and drop == 2:
                d[8], flagged = round(d[0] * 3, 2), 1  # an outer sensor far above the centre
            pavement = 74.2 + 0.1 * s
            line = w.add(f"{station} {1 if drop < 3 else 2} {distance:7.3f} 1" +
                         "".join(f"{v:6.2f}" for v in d) + f"{kips:6.2f}{pavement:6.1f}")
            w.expected.append([w.name, line, station, "", drop, f"{kips:.2f}", "2019-05-13", f"{hh:02d}:{mm:02d}",
                               f"{pavement:.1f}", f"{air:.1f}", repr(lat_deg + lat_min / 60.0),
                               repr(-(lon_deg + lon_min / 60.0)), ";".join(f"{v:.2f}" for v in d), flagged])
        w.add(f"Drop Sequence Completed Time: {hh:02d}:{mm:02d}    Air Temp (F): {air:.1f}")
        w.add(f"GPS: Quality : DGPS Fix   Latitude = {lat_deg} deg{lat_min:.6f}  N   "
              f"Longitude = {lon_deg} deg{lon_min:.6f}   W   PDOP = 0.00")
        w.add(f"Note: {4588 + s}")
    return w


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "tests", "data", "fwd")
    rng = random.Random(20190513)
    writers = [device_a(rng), device_b(rng), jils(rng)]
    with open(os.path.join(folder, "expected.csv"), "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(EXPECTED_FIELDS)
        for w in writers:
            w.save(folder)
            out.writerows(w.expected)


if __name__ == "__main__":
    main()
