// Draws the survey report from the JSON block of the page: plain SVG and
// tables, no outside files. Every value shown as text is the text of the
// results file (the same printed digits); the charts use its numbers.
// Text from the data goes in through textContent and setAttribute only, so
// a section called "<script>" is shown, never run.
(function () {
  'use strict';
  var SVGNS = 'http://www.w3.org/2000/svg';
  var W = 1000, MARGIN = { left: 72, right: 16, top: 10, bottom: 30 };
  var COLOURS = ['#1f5fa8', '#e07b00', '#2e8b57', '#8e44ad', '#8c564b', '#d62728'];
  var MAX_TABLE_ROWS = 5000;  // rows of the flagged table drawn at once; the rest are counted
  var MEASURES = ['allowable_load', 'e_surface', 'e_surface_72f', 'e_base', 'e_subgrade', 'depth_in', 'd0_mils',
                  'sci_mils', 'bdi_mils', 'bci_mils', 'area_in', 'fit_rms_pct'];
  var CHARTS = [
    { title: 'Deflection D0 and basin indices (mils)', series: ['d0_mils', 'sci_mils', 'bdi_mils', 'bci_mils'] },
    { title: 'Moduli (psi, log scale)', series: ['e_surface', 'e_base', 'e_subgrade'], log: true, se: '_se_pct' },
    { title: 'Allowable load', series: ['allowable_load'], band: ['allowable_load_low', 'allowable_load_high'] },
    { title: 'Depth to the stiff layer (in)', series: ['depth_in'] },
    { title: 'Fit RMS (%)', series: ['fit_rms_pct'] }
  ];

  // ---- small helpers ----------------------------------------------------------------

  function el(tag, attrs, text) {
    var e = document.createElement(tag);
    for (var k in attrs || {}) e.setAttribute(k, attrs[k]);
    if (text !== undefined && text !== null) e.textContent = String(text);
    return e;
  }
  function sv(tag, attrs, text) {
    var e = document.createElementNS(SVGNS, tag);
    for (var k in attrs || {}) e.setAttribute(k, attrs[k]);
    if (text !== undefined) e.textContent = String(text);
    return e;
  }
  function add(parent, child) { parent.appendChild(child); return child; }
  function note(parent, text) { return add(parent, el('p', { 'class': 'missing' }, text)); }
  // A cell's number: "nan", "inf" and empty cells are not finite and are not drawn.
  function num(s) {
    if (s === undefined || s === null || s === '') return NaN;
    var x = Number(s);
    return isFinite(x) ? x : NaN;
  }
  function fmt(v) {
    if (!isFinite(v)) return '\u2014';
    return String(Number(v.toPrecision(5)));
  }
  function tickLabel(v) {
    var a = Math.abs(v);
    if (a !== 0 && (a >= 1e6 || a < 1e-3)) return v.toExponential();
    return String(Number(v.toPrecision(6)));
  }
  function table(t) {
    var out = { columns: [], rows: [], index: Object.create(null) };  // no inherited names: a column may be called anything
    if (!t || !Array.isArray(t.columns) || !Array.isArray(t.rows)) return out;
    out.columns = t.columns.map(String);
    out.rows = t.rows;
    out.columns.forEach(function (c, i) { out.index[c] = i; });
    return out;
  }
  function cell(t, row, name) {
    var i = t.index[name];
    return i === undefined || row[i] === undefined || row[i] === null ? '' : String(row[i]);
  }
  function has(t, name) { return t.index[name] !== undefined; }

  // ---- the data -----------------------------------------------------------------------

  var data = JSON.parse(document.getElementById('survey-data').textContent || '{}');
  var results = table(data.results);
  var residuals = table(data.residuals);
  var segments = table(data.segments);
  var notes = [];

  var drops = results.rows.map(function (row, i) {
    var flags = cell(results, row, 'flags');
    return { i: i, row: row, section: cell(results, row, 'section'), test: cell(results, row, 'test'),
             flags: flags ? flags.split('|') : [], values: {} };
  });
  var sections = [];
  drops.forEach(function (d) { if (sections.indexOf(d.section) < 0) sections.push(d.section); });

  // Basins per drop (and per method when the results hold several).
  var basins = Object.create(null);
  residuals.rows.forEach(function (row) {
    var key = cell(residuals, row, 'section') + '\u0000' + cell(residuals, row, 'test');
    (basins[key] = basins[key] || []).push(row);
  });
  function basinOf(d) { return basins[d.section + '\u0000' + d.test] || []; }

  // The values drawn: the results' columns, and D0 from the basin when the
  // results have no column of it.
  var columns = MEASURES.slice();
  CHARTS.forEach(function (c) {
    c.series.forEach(function (s) { if (columns.indexOf(s) < 0) columns.push(s); });
    (c.band || []).forEach(function (s) { if (columns.indexOf(s) < 0) columns.push(s); });
    if (c.se) c.series.forEach(function (s) { columns.push(s + c.se); });
  });
  drops.forEach(function (d) {
    columns.forEach(function (c) { d.values[c] = num(cell(results, d.row, c)); });
  });
  var derivedD0 = false;
  if (!has(results, 'd0_mils') && residuals.rows.length > 0) {
    derivedD0 = true;
    drops.forEach(function (d) {
      var at0 = basinOf(d).filter(function (r) { return num(cell(residuals, r, 'offset_in')) === 0; })[0];
      d.values.d0_mils = at0 ? num(cell(residuals, at0, 'measured_mils')) : NaN;
    });
  }
  function present(c) { return drops.some(function (d) { return isFinite(d.values[c]); }); }

  // Positions along the survey: the stations when every drop has one and
  // they never go back; otherwise the drops' order in the survey.
  var stations = drops.map(function (d) { return num(cell(results, d.row, 'station')); });
  var byStation = drops.length > 0 && stations.every(function (s, i) { return isFinite(s) && (i === 0 || s >= stations[i - 1]); });
  drops.forEach(function (d, i) { d.pos = byStation ? stations[i] : i + 1; });
  var positionName = byStation ? 'station' : 'drop (in survey order)';
  if (drops.length > 0 && !byStation) notes.push(has(results, 'station')
      ? 'Stations missing or going back: the drops are drawn in survey order.'
      : 'No stations in these results: the drops are drawn in survey order.');

  // ---- selection of a drop ------------------------------------------------------------

  var listeners = [];
  function select(d) { listeners.forEach(function (f) { f(d); }); }

  // ---- summary ----------------------------------------------------------------------

  function kvTable(parent, pairs) {
    var t = add(parent, el('table', { 'class': 'kv' }));
    pairs.forEach(function (p) {
      var tr = add(t, el('tr'));
      add(tr, el('th', {}, p[0]));
      add(tr, el('td', p[2] ? { id: p[2] } : {}, p[1]));
    });
    return t;
  }
  function drawSummary() {
    var box = document.getElementById('summary');
    if (data.title) {
      document.getElementById('title').textContent = String(data.title);
      document.title = String(data.title);
    }
    document.getElementById('subtitle').textContent =
        [data.generator, data.version ? 'library ' + data.version : ''].filter(Boolean).join(', ');
    var flagged = drops.filter(function (d) { return d.flags.length > 0; }).length;
    var pairs = [['Drops rated', drops.length, 'n-drops'], ['Sections', sections.length, 'n-sections'],
                 ['Flagged drops', flagged, 'n-flagged'], ['Method', data.method || '\u2014'],
                 ['Library version', data.version || '\u2014']];
    (data.settings || []).forEach(function (s) { pairs.push([String(s[0]), String(s[1])]); });
    var two = add(box, el('div', { 'class': 'two' }));
    kvTable(add(two, el('div')), pairs);
    var right = add(two, el('div'));
    var inputs = Array.isArray(data.inputs) ? data.inputs : [];
    if (inputs.length > 0) {
      add(right, el('h3', {}, 'Inputs'));
      var t = add(right, el('table', { id: 'inputs' }));
      var head = add(t, el('tr'));
      ['file', 'kind', 'read', 'skipped'].forEach(function (h) { add(head, el('th', { 'class': 'text' }, h)); });
      inputs.forEach(function (f) {
        var tr = add(t, el('tr'));
        add(tr, el('td', { 'class': 'text' }, f.file));
        add(tr, el('td', { 'class': 'text' }, f.kind));
        add(tr, el('td', {}, f.read === undefined ? '' : f.read));
        add(tr, el('td', {}, f.skipped === undefined ? '' : f.skipped));
      });
    }
    add(right, el('h3', {}, 'Run record'));
    if (Array.isArray(data.run_record) && data.run_record.length > 0) {
      kvTable(right, data.run_record.map(function (p) { return [String(p[0]), String(p[1])]; }));
    } else {
      add(right, el('p', { 'class': 'hint' }, 'No run record with these results.'));
    }
    if (drops.length === 0) notes.push('No drops in these results: nothing to draw.');
    else if (drops.length === 1) notes.push('One drop only: its values are shown, the charts hold one point.');
    if (residuals.rows.length === 0) notes.push('No basins with these results: the basin view is empty.');
    if (derivedD0) notes.push('D0 is the measured deflection at the load from the basins.');
    var notFinite = drops.filter(function (d) { return !isFinite(d.values.allowable_load); }).length;
    if (notFinite > 0) notes.push(notFinite + ' drop(s) without a finite allowable load (not fitted): left out of the charts and statistics.');
    var list = add(box, el('ul', { id: 'notes' }));
    notes.forEach(function (n) { add(list, el('li', { 'class': 'missing' }, n)); });
  }

  // ---- charts along the survey ------------------------------------------------------

  function extent(values) {
    var lo = Infinity, hi = -Infinity;
    values.forEach(function (v) { if (isFinite(v)) { if (v < lo) lo = v; if (v > hi) hi = v; } });
    return lo <= hi ? [lo, hi] : null;
  }
  function niceTicks(lo, hi, n) {
    var step = Math.pow(10, Math.floor(Math.log(Math.max(hi - lo, 1e-12) / n) / Math.LN10));
    var err = (hi - lo) / n / step;
    step *= err >= 5 ? 10 : err >= 2 ? 5 : err >= 1 ? 2 : 1;
    var ticks = [];
    for (var v = Math.ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) ticks.push(Number(v.toPrecision(12)));
    return ticks;
  }
  // nice: the domain widened to whole ticks, so that no line leaves the grid.
  function linearScale(lo, hi, a, b, nice) {
    if (hi === lo) { lo -= Math.abs(lo) * 0.1 || 1; hi += Math.abs(hi) * 0.1 || 1; }
    if (nice) {
      var t = niceTicks(lo, hi, 5), step = t.length > 1 ? t[1] - t[0] : hi - lo;
      lo = Math.floor(lo / step + 1e-9) * step;
      hi = Math.ceil(hi / step - 1e-9) * step;
    }
    var f = function (v) { return a + (v - lo) / (hi - lo) * (b - a); };
    f.invert = function (p) { return lo + (p - a) / (b - a) * (hi - lo); };
    f.ticks = function () { return niceTicks(lo, hi, 6); };
    return f;
  }
  function logScale(lo, hi, a, b) {
    var l0 = Math.floor(Math.log(lo) / Math.LN10), l1 = Math.ceil(Math.log(hi) / Math.LN10);
    if (l1 === l0) l1 = l0 + 1;
    var f = function (v) { return a + (Math.log(v) / Math.LN10 - l0) / (l1 - l0) * (b - a); };
    // 1, 2 and 5 of each decade over a short range; the decades alone over a long one.
    var mantissas = l1 - l0 > 2 ? [1] : [1, 2, 5];
    f.ticks = function () {
      var t = [];
      for (var e = l0; e <= l1; e++) mantissas.forEach(function (m) {
        var v = m * Math.pow(10, e);
        if (v >= Math.pow(10, l0) && v <= Math.pow(10, l1)) t.push(v);
      });
      return t;
    };
    return f;
  }
  var xDomain = extent(drops.map(function (d) { return d.pos; })) || [0, 1];
  var x = linearScale(xDomain[0], xDomain[1], MARGIN.left, W - MARGIN.right);

  function axes(svg, y, h, yTitle) {
    var g = add(svg, sv('g', { 'class': 'axis' }));
    y.ticks().forEach(function (v) {
      var p = y(v).toFixed(1);
      add(g, sv('line', { x1: MARGIN.left, x2: W - MARGIN.right, y1: p, y2: p, 'class': 'grid' }));
      add(g, sv('text', { x: MARGIN.left - 6, y: p, 'text-anchor': 'end', 'dominant-baseline': 'middle' }, tickLabel(v)));
    });
    x.ticks().forEach(function (v) {
      var p = x(v).toFixed(1);
      add(g, sv('line', { x1: p, x2: p, y1: h - MARGIN.bottom, y2: h - MARGIN.bottom + 4 }));
      add(g, sv('text', { x: p, y: h - MARGIN.bottom + 15, 'text-anchor': 'middle' }, tickLabel(v)));
    });
    add(g, sv('line', { x1: MARGIN.left, x2: W - MARGIN.right, y1: h - MARGIN.bottom, y2: h - MARGIN.bottom }));
    add(g, sv('text', { x: W - MARGIN.right, y: h - 2, 'text-anchor': 'end' }, positionName));
    if (yTitle) add(g, sv('text', { x: 4, y: MARGIN.top + 4, 'dominant-baseline': 'hanging' }, yTitle));
  }
  // Runs of drops drawn as one line: a run breaks at a new section and at a
  // value that is not finite.
  function runs(value) {
    var out = [], run = [];
    drops.forEach(function (d, i) {
      var v = value(d);
      if (!isFinite(v.mid) || (i > 0 && d.section !== drops[i - 1].section)) {
        if (run.length) out.push(run);
        run = [];
      }
      if (isFinite(v.mid)) run.push({ d: d, v: v });
    });
    if (run.length) out.push(run);
    return out;
  }
  function linePath(run, y) {
    var parts = run.map(function (p, k) { return (k ? 'L' : 'M') + x(p.d.pos).toFixed(1) + ' ' + y(p.v.mid).toFixed(1); });
    if (run.length === 1) parts.push('h0.01');
    return parts.join('');
  }
  function bandPath(run, y) {
    var ok = run.filter(function (p) { return isFinite(p.v.lo) && isFinite(p.v.hi); });
    if (ok.length === 0) return '';
    var up = ok.map(function (p, k) { return (k ? 'L' : 'M') + x(p.d.pos).toFixed(1) + ' ' + y(p.v.hi).toFixed(1); });
    var down = ok.slice().reverse().map(function (p) { return 'L' + x(p.d.pos).toFixed(1) + ' ' + y(p.v.lo).toFixed(1); });
    return up.join('') + down.join('') + 'Z';
  }
  function circles(points, r) {
    return points.map(function (p) {
      return 'M' + (p[0] - r).toFixed(1) + ' ' + p[1].toFixed(1) + 'a' + r + ' ' + r + ' 0 1 0 ' + 2 * r + ' 0a' + r + ' ' + r + ' 0 1 0 ' + -2 * r + ' 0';
    }).join('');
  }
  function nearestDrop(pos) {
    var best = null;
    drops.forEach(function (d) { if (!best || Math.abs(d.pos - pos) < Math.abs(best.pos - pos)) best = d; });
    return best;
  }
  function svgPoint(svg, event) {
    var m = svg.getScreenCTM();
    if (!m) return null;
    var p = svg.createSVGPoint();
    p.x = event.clientX; p.y = event.clientY;
    return p.matrixTransform(m.inverse());
  }

  function seriesValue(chart, name) {
    return function (d) {
      var v = d.values[name], lo = NaN, hi = NaN;
      if (chart.band) { lo = d.values[chart.band[0]]; hi = d.values[chart.band[1]]; }
      if (chart.se) {
        var se = d.values[name + chart.se];
        if (isFinite(se)) { lo = v * (1 - se / 100); hi = v * (1 + se / 100); }
      }
      if (chart.log && !(v > 0)) v = NaN;
      if (chart.log && !(lo > 0)) lo = NaN;
      return { mid: v, lo: lo, hi: hi };
    };
  }
  function drawUnits(svg, chart, series, y, h) {
    if (!has(segments, 'station_from') || !byStation) return;
    var g = add(svg, sv('g'));
    segments.rows.forEach(function (row, k) {
      var from = num(cell(segments, row, 'station_from')), to = num(cell(segments, row, 'station_to'));
      if (k > 0 && isFinite(from)) add(g, sv('line', { 'class': 'boundary', x1: x(from), x2: x(from), y1: MARGIN.top, y2: h - MARGIN.bottom }));
      series.forEach(function (s) {
        var mean = num(cell(segments, row, s + '_mean'));
        if (isFinite(mean) && isFinite(from) && isFinite(to) && (!chart.log || mean > 0))
          add(g, sv('line', { 'class': 'unit-mean', x1: x(from), x2: x(to), y1: y(mean), y2: y(mean) }));
      });
    });
  }
  function drawSectionBounds(svg, h) {
    if (sections.length < 2) return;
    drops.forEach(function (d, i) {
      if (i === 0 || d.section === drops[i - 1].section) return;
      var p = ((d.pos + drops[i - 1].pos) / 2);
      add(svg, sv('line', { 'class': 'boundary', x1: x(p), x2: x(p), y1: MARGIN.top, y2: h - MARGIN.bottom }));
      add(svg, sv('text', { x: x(p) + 3, y: MARGIN.top + 10 }, d.section));
    });
  }
  function drawChart(box, chart) {
    var series = chart.series.filter(present);
    if (series.length === 0) return false;
    var h = 190;
    var all = [];
    series.forEach(function (s) {
      var f = seriesValue(chart, s);
      drops.forEach(function (d) { var v = f(d); all.push(v.mid, v.lo, v.hi); });
    });
    var ext = extent(all.filter(function (v) { return !chart.log || v > 0; }));
    if (!ext) return false;  // a log axis with no value above zero
    var y = chart.log ? logScale(ext[0], ext[1], h - MARGIN.bottom, MARGIN.top)
                      : linearScale(Math.min(0, ext[0]), ext[1], h - MARGIN.bottom, MARGIN.top, true);
    var div = add(box, el('div', { 'class': 'chart', 'data-chart': series[0] }));
    add(div, el('h3', {}, chart.title));
    var legend = add(div, el('div', { 'class': 'legend' }));
    var svg = add(div, sv('svg', { viewBox: '0 0 ' + W + ' ' + h, preserveAspectRatio: 'xMidYMid meet', role: 'img' }));
    axes(svg, y, h, '');
    drawSectionBounds(svg, h);
    series.forEach(function (s, k) {
      var colour = COLOURS[k % COLOURS.length];
      add(legend, el('span', { 'class': 'swatch', style: 'background:' + colour }));
      add(legend, document.createTextNode(s + (chart.se && present(s + chart.se) ? ' \u00b1 standard error' : '')));
      var rs = runs(seriesValue(chart, s));
      var band = rs.map(function (r) { return bandPath(r, y); }).join('');
      if (band) add(svg, sv('path', { d: band, 'class': 'band', fill: colour }));
      add(svg, sv('path', { d: rs.map(function (r) { return linePath(r, y); }).join(''), 'class': 'series', stroke: colour, 'data-series': s }));
    });
    if (chart.band && present(chart.band[0])) add(legend, document.createTextNode(' (band: ' + chart.band.join(' to ') + ')'));
    drawUnits(svg, chart, series, y, h);
    var first = seriesValue(chart, series[0]);
    var marks = drops.filter(function (d) { return d.flags.length > 0 && isFinite(first(d).mid); })
                     .map(function (d) { return [x(d.pos), y(first(d).mid)]; });
    if (marks.length) {
      add(svg, sv('path', { d: circles(marks, 4), 'class': 'flag-mark' }));
      add(legend, el('span', { 'class': 'swatch', style: 'background:#c62828' }));
      add(legend, document.createTextNode('flagged'));
    }
    var cursor = add(svg, sv('line', { 'class': 'cursor', y1: MARGIN.top, y2: h - MARGIN.bottom, visibility: 'hidden' }));
    listeners.push(function (d) {
      cursor.setAttribute('x1', x(d.pos)); cursor.setAttribute('x2', x(d.pos));
      cursor.setAttribute('visibility', 'visible');
    });
    svg.addEventListener('click', function (e) {
      var p = svgPoint(svg, e);
      if (p) select(nearestDrop(x.invert(p.x)));
    });
    return true;
  }
  function drawCharts() {
    var box = document.getElementById('charts');
    if (drops.length === 0) { note(box, 'No drops: no charts.'); return; }
    var drawn = CHARTS.filter(function (c) { return drawChart(box, c); }).length;
    if (drawn === 0) note(box, 'No finite values to draw.');
  }

  // ---- basin of a drop --------------------------------------------------------------

  function drawBasin(d) {
    var box = document.getElementById('basin');
    box.textContent = '';
    box.setAttribute('data-section', d.section);
    box.setAttribute('data-test', d.test);
    add(box, el('h3', {}, 'Section ' + d.section + ', test ' + d.test + (d.flags.length ? ' (flagged: ' + d.flags.join(', ') + ')' : '')));
    var two = add(box, el('div', { 'class': 'two' }));
    var left = add(two, el('div')), right = add(two, el('div'));
    var details = add(right, el('table', { id: 'drop-details', 'class': 'kv' }));
    results.columns.forEach(function (c, i) {
      var tr = add(details, el('tr'));
      add(tr, el('th', {}, c));
      add(tr, el('td', { 'data-column': c }, d.row[i] === undefined ? '' : String(d.row[i])));
    });
    var rows = basinOf(d);
    if (rows.length === 0) { note(left, 'No basin for this drop in these results.'); return; }
    var methods = [];
    rows.forEach(function (r) { var m = cell(residuals, r, 'method'); if (methods.indexOf(m) < 0) methods.push(m); });
    var h = 260, bw = 600;
    var offs = rows.map(function (r) { return num(cell(residuals, r, 'offset_in')); });
    var defl = [];
    rows.forEach(function (r) { defl.push(num(cell(residuals, r, 'measured_mils')), num(cell(residuals, r, 'computed_mils'))); });
    var xe = extent(offs) || [0, 1], ye = extent(defl) || [0, 1];
    var bx = linearScale(Math.min(0, xe[0]), xe[1], MARGIN.left, bw - MARGIN.right);
    var by = linearScale(0, ye[1], MARGIN.top, h - MARGIN.bottom, true);  // deflection drawn downward
    var svg = add(left, sv('svg', { viewBox: '0 0 ' + bw + ' ' + h, role: 'img' }));
    var g = add(svg, sv('g', { 'class': 'axis' }));
    by.ticks().forEach(function (v) {
      add(g, sv('line', { x1: MARGIN.left, x2: bw - MARGIN.right, y1: by(v), y2: by(v), 'class': 'grid' }));
      add(g, sv('text', { x: MARGIN.left - 6, y: by(v), 'text-anchor': 'end', 'dominant-baseline': 'middle' }, tickLabel(v)));
    });
    bx.ticks().forEach(function (v) {
      add(g, sv('text', { x: bx(v), y: h - MARGIN.bottom + 15, 'text-anchor': 'middle' }, tickLabel(v)));
    });
    add(g, sv('text', { x: bw - MARGIN.right, y: h - 2, 'text-anchor': 'end' }, 'offset (in)'));
    add(g, sv('text', { x: 4, y: MARGIN.top, 'dominant-baseline': 'hanging' }, 'mils'));
    var legend = add(left, el('div', { 'class': 'legend' }));
    methods.forEach(function (m, k) {
      var colour = COLOURS[(k + 1) % COLOURS.length];
      var pts = rows.filter(function (r) { return cell(residuals, r, 'method') === m; })
                    .map(function (r) { return [bx(num(cell(residuals, r, 'offset_in'))), by(num(cell(residuals, r, 'computed_mils')))]; })
                    .filter(function (p) { return isFinite(p[0]) && isFinite(p[1]); });
      if (pts.length) add(svg, sv('polyline', { points: pts.map(function (p) { return p[0].toFixed(1) + ',' + p[1].toFixed(1); }).join(' '),
                                                 'class': 'series computed', stroke: colour }));
      add(legend, el('span', { 'class': 'swatch', style: 'background:' + colour }));
      add(legend, document.createTextNode('computed' + (m ? ' (' + m + ')' : '')));
    });
    var seen = {};
    rows.forEach(function (r) {
      var key = cell(residuals, r, 'sensor');
      if (seen[key]) return;  // one measured point per sensor, however many methods
      seen[key] = true;
      var px = bx(num(cell(residuals, r, 'offset_in'))), py = by(num(cell(residuals, r, 'measured_mils')));
      if (isFinite(px) && isFinite(py)) add(svg, sv('circle', { cx: px.toFixed(1), cy: py.toFixed(1), r: 4, 'class': 'measured', fill: COLOURS[0] }));
    });
    add(legend, el('span', { 'class': 'swatch', style: 'background:' + COLOURS[0] }));
    add(legend, document.createTextNode('measured'));
    var t = add(left, el('table', { id: 'basin-table' }));
    var head = add(t, el('tr'));
    var shown = residuals.columns.filter(function (c) { return c !== 'section' && c !== 'test'; });
    shown.forEach(function (c) { add(head, el('th', {}, c)); });
    rows.forEach(function (r) {
      var tr = add(t, el('tr'));
      shown.forEach(function (c) { add(tr, el('td', { 'data-column': c }, cell(residuals, r, c))); });
    });
  }

  // ---- statistics per section and unit ---------------------------------------------

  function percentile(sorted, p) {
    if (sorted.length === 0) return NaN;
    var h = (sorted.length - 1) * p, lo = Math.floor(h);
    return lo + 1 < sorted.length ? sorted[lo] + (h - lo) * (sorted[lo + 1] - sorted[lo]) : sorted[lo];
  }
  function stats(values) {
    var v = values.filter(isFinite).sort(function (a, b) { return a - b; });
    var n = v.length, mean = NaN, sd = NaN;
    if (n > 0) mean = v.reduce(function (s, a) { return s + a; }, 0) / n;
    if (n > 1) sd = Math.sqrt(v.reduce(function (s, a) { return s + (a - mean) * (a - mean); }, 0) / (n - 1));
    return [n, mean, sd, percentile(v, 0.15), percentile(v, 0.5), percentile(v, 0.85), v[0], v[n - 1]];
  }
  function statsTable(box, title, group, attrs) {
    add(box, el('h3', {}, title));
    var measures = MEASURES.filter(present);
    var t = add(box, el('table', attrs));
    var head = add(t, el('tr'));
    ['quantity', 'n', 'mean', 'sd', 'p15', 'median', 'p85', 'min', 'max'].forEach(function (h, k) {
      add(head, el('th', k === 0 ? { 'class': 'text' } : {}, h));
    });
    measures.forEach(function (m) {
      var tr = add(t, el('tr'));
      add(tr, el('td', { 'class': 'text' }, m));
      stats(group.map(function (d) { return d.values[m]; })).forEach(function (v, k) {
        add(tr, el('td', {}, k === 0 ? v : fmt(v)));
      });
    });
  }
  function drawStatistics() {
    var box = document.getElementById('statistics');
    if (drops.length === 0) { note(box, 'No drops: no statistics.'); return; }
    sections.forEach(function (s) {
      var group = drops.filter(function (d) { return d.section === s; });
      var flagged = group.filter(function (d) { return d.flags.length > 0; }).length;
      statsTable(box, 'Section ' + s + ': ' + group.length + ' drops, ' + flagged + ' flagged', group,
                 { 'class': 'section-stats', 'data-section': s });
    });
    if (has(segments, 'station_from') && byStation) {
      add(box, el('h2', {}, 'Per homogeneous unit'));
      segments.rows.forEach(function (row, k) {
        var from = num(cell(segments, row, 'station_from')), to = num(cell(segments, row, 'station_to'));
        var group = drops.filter(function (d) { return d.pos >= from && d.pos <= to; });
        var name = cell(segments, row, 'segment') || String(k + 1);
        statsTable(box, 'Unit ' + name + ' (stations ' + cell(segments, row, 'station_from') + ' to ' +
                   cell(segments, row, 'station_to') + '): ' + group.length + ' drops', group, { 'class': 'unit-stats' });
      });
    }
  }

  // ---- flagged drops ----------------------------------------------------------------

  function drawFlagged() {
    var box = document.getElementById('flagged');
    var flagged = drops.filter(function (d) { return d.flags.length > 0; });
    if (flagged.length === 0) { add(box, el('p', { 'class': 'hint' }, 'No drop is flagged.')); return; }
    var cols = ['section', 'test', 'line', 'station', 'lane', 'drop', 'flags', 'allowable_load', 'fit_rms_pct'].filter(function (c) { return has(results, c); });
    var t = add(box, el('table', { id: 'flagged-table' }));
    var thead = add(t, el('thead')), tbody = add(t, el('tbody'));
    var head = add(thead, el('tr'));
    var order = { col: null, dir: 1 };
    function fill() {
      tbody.textContent = '';
      flagged.slice(0, MAX_TABLE_ROWS).forEach(function (d) {
        var tr = add(tbody, el('tr', { 'class': 'flagged-row', 'data-drop': d.i }));
        cols.forEach(function (c) {
          var text = c === 'flags' ? d.flags.join(', ') : cell(results, d.row, c);
          add(tr, el('td', c === 'section' || c === 'flags' || c === 'lane' ? { 'class': 'text' } : {}, text));
        });
        tr.addEventListener('click', function () { select(d); });
      });
    }
    cols.forEach(function (c) {
      var th = add(head, el('th', { 'data-column': c, title: 'sort' }, c));
      th.addEventListener('click', function () {
        order.dir = order.col === c ? -order.dir : 1;
        order.col = c;
        flagged.sort(function (a, b) {
          var sa = cell(results, a.row, c), sb = cell(results, b.row, c), na = Number(sa), nb = Number(sb);
          var r = sa !== '' && sb !== '' && !isNaN(na) && !isNaN(nb) ? na - nb : sa < sb ? -1 : sa > sb ? 1 : 0;
          return r * order.dir || a.i - b.i;
        });
        fill();
      });
    });
    fill();
    if (flagged.length > MAX_TABLE_ROWS)
      note(box, 'The first ' + MAX_TABLE_ROWS + ' of ' + flagged.length + ' flagged drops are listed (in the order chosen).');
  }

  // ---- GPS track --------------------------------------------------------------------

  var RAMP = [[68, 1, 84], [59, 82, 139], [33, 145, 140], [94, 201, 98], [253, 231, 37]];
  function ramp(t) {
    var s = Math.max(0, Math.min(1, t)) * (RAMP.length - 1), k = Math.min(Math.floor(s), RAMP.length - 2), f = s - k;
    var c = RAMP[k].map(function (a, j) { return Math.round(a + f * (RAMP[k + 1][j] - a)); });
    return 'rgb(' + c.join(',') + ')';
  }
  function drawTrack() {
    var box = document.getElementById('track-view');
    var pts = drops.map(function (d) {
      return { d: d, lat: num(cell(results, d.row, 'latitude')), lon: num(cell(results, d.row, 'longitude')) };
    }).filter(function (p) { return isFinite(p.lat) && isFinite(p.lon); });
    if (pts.length === 0) { add(box, el('p', { 'class': 'hint' }, 'No coordinates in these results: no track.')); return; }
    // A local plane: east scaled by the cosine of the mean latitude, so that
    // a short track keeps its shape.
    var lat0 = pts.reduce(function (s, p) { return s + p.lat; }, 0) / pts.length;
    var k = Math.cos(lat0 * Math.PI / 180);
    pts.forEach(function (p) { p.e = p.lon * k; p.n = p.lat; });
    var ee = extent(pts.map(function (p) { return p.e; })), ne = extent(pts.map(function (p) { return p.n; }));
    var span = Math.max(ee[1] - ee[0], ne[1] - ne[0]) || 1e-6;
    var tw = 1000, th = Math.max(160, Math.min(600, Math.round(tw * (ne[1] - ne[0]) / span) + 40));
    var scale = Math.min((tw - 40) / ((ee[1] - ee[0]) || span), (th - 40) / ((ne[1] - ne[0]) || span));
    pts.forEach(function (p) {
      p.x = tw / 2 + (p.e - (ee[0] + ee[1]) / 2) * scale;
      p.y = th / 2 - (p.n - (ne[0] + ne[1]) / 2) * scale;
    });
    var label = add(box, el('label', {}, 'Colour by '));
    var choice = add(label, el('select', { id: 'track-colour' }));
    MEASURES.filter(present).forEach(function (m) { add(choice, el('option', { value: m }, m)); });
    var legend = add(box, el('div', { 'class': 'legend', id: 'track-legend' }));
    var svg = add(box, sv('svg', { viewBox: '0 0 ' + tw + ' ' + th, role: 'img' }));
    add(svg, sv('path', { d: pts.map(function (p, i) { return (i ? 'L' : 'M') + p.x.toFixed(1) + ' ' + p.y.toFixed(1); }).join(''),
                          fill: 'none', stroke: '#bbb' }));
    var dots = add(svg, sv('g'));
    var mark = add(svg, sv('circle', { r: 7, fill: 'none', stroke: '#e08a00', 'stroke-width': 2, visibility: 'hidden' }));
    function colour() {
      var m = choice.value;
      dots.textContent = '';
      legend.textContent = '';
      var e = extent(pts.map(function (p) { return p.d.values[m]; }));
      var bins = {};
      pts.forEach(function (p) {
        var v = p.d.values[m];
        var c = !isFinite(v) || !e ? '#999' : ramp(e[1] > e[0] ? (v - e[0]) / (e[1] - e[0]) : 0.5);
        (bins[c] = bins[c] || []).push([p.x, p.y]);
      });
      Object.keys(bins).forEach(function (c) { add(dots, sv('path', { d: circles(bins[c], 3), fill: c, stroke: 'none' })); });
      if (e) {
        add(legend, document.createTextNode(m + ': ' + fmt(e[0]) + ' '));
        [0, 0.25, 0.5, 0.75, 1].forEach(function (t) { add(legend, el('span', { 'class': 'swatch', style: 'width:24px;height:10px;margin:0;background:' + ramp(t) })); });
        add(legend, document.createTextNode(' ' + fmt(e[1]) + '; grey: not finite'));
      }
    }
    choice.addEventListener('change', colour);
    if (choice.options.length) colour();
    svg.addEventListener('click', function (ev) {
      var q = svgPoint(svg, ev);
      if (!q) return;
      var best = null, bd = Infinity;
      pts.forEach(function (p) { var dd = (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y); if (dd < bd) { bd = dd; best = p; } });
      if (best) select(best.d);
    });
    listeners.push(function (d) {
      var p = pts.filter(function (q) { return q.d === d; })[0];
      if (!p) { mark.setAttribute('visibility', 'hidden'); return; }
      mark.setAttribute('cx', p.x); mark.setAttribute('cy', p.y); mark.setAttribute('visibility', 'visible');
    });
  }

  // ---- assembly ---------------------------------------------------------------------

  // Each part is drawn on its own: a fault in one is reported (on the page
  // and the console) and the others are still drawn.
  [drawSummary, drawCharts, drawStatistics, drawFlagged, drawTrack].forEach(function (part) {
    try {
      part();
    } catch (e) {
      note(document.querySelector('main'), 'A part of this report could not be drawn: ' + e);
      console.error(e);
    }
  });
  listeners.push(drawBasin);
  listeners.push(function (d) {
    var rows = document.querySelectorAll('#flagged-table tbody tr');
    for (var k = 0; k < rows.length; k++) rows[k].classList.toggle('selected', rows[k].getAttribute('data-drop') === String(d.i));
  });
  if (drops.length === 0) note(document.getElementById('basin'), 'No drops: no basin to show.');
  else select(drops.filter(function (d) { return d.flags.length > 0; })[0] || drops[0]);
  document.body.setAttribute('data-ready', '1');
})();
