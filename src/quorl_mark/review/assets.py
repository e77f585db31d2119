"""The style sheet and the script of the review page (page.py writes the page around them).

Both are inlined into the page, so that it opens from the file system with nothing to fetch; the
page's Content-Security-Policy admits this script by its hash and nothing else.

The page's parts, as the script finds them: ``#marks`` (the list, one ``li[data-m]`` per mark),
``#text`` (the HTML text) and ``#pdf`` (the page images and their outlines). Every element that
shows a mark carries ``data-m``, the numbers of the marks it shows, innermost first.
"""

STYLE = """\
html,body{margin:0;height:100%}
body{display:grid;grid-template:auto 1fr/minmax(14rem,22%) 1fr 1fr;height:100vh;overflow:hidden;
 font:14px/1.75 "Noto Sans CJK SC",sans-serif;color:#222}
header{grid-column:1/4;padding:.3rem .8rem;border-bottom:1px solid #ccc;background:#f6f6f6}
header h1{font-size:1rem;margin:0;display:inline}
header span{margin-left:1rem}
#marks,#text,#pdf{overflow:auto;min-height:0;border-right:1px solid #ddd}
#marks ol{margin:0;padding:0;list-style:none}
#marks li{padding:.25rem .5rem;border-bottom:1px solid #eee;border-left:.4rem solid var(--c);
 cursor:pointer;font-size:13px;line-height:1.45}
#marks li.sel{background:#fff3e0}
#marks small{display:block;color:#666}
#marks q{font-weight:bold}
#text{padding:0 1rem}
#text h2{font-size:.9rem;color:#555;border-bottom:1px solid #ddd;margin:1.2rem 0 .3rem}
#text p{margin:.4rem 0}
.m{background:var(--c);cursor:pointer}
.m.ov{box-shadow:inset 0 -3px #0006}
.x{color:#b71c1c;text-decoration:underline wavy #e53935}
ins{color:#1b5e20;background:#c8e6c9;text-decoration:none;font-size:.85em}
.lbl{background:var(--c);font-size:.7em;padding:0 .2em;margin-right:1px;border-radius:3px;
 cursor:pointer;font-weight:bold}
#pdf{background:#888;padding:.5rem}
.pg{position:relative;max-width:900px;margin:0 auto .6rem;background:#fff}
.pg img{display:block;width:100%;height:auto}
.pg figcaption{position:absolute;right:.3rem;bottom:.2rem;font-size:11px;color:#555}
.r{position:absolute;outline:2px solid var(--o);cursor:pointer}
.r:hover{background:#0002}
#pdf.nobox .r{display:none}
.sel.m,.sel.r{outline:2px solid #e53935}
.flash{animation:flash .5s 3}
@keyframes flash{50%{outline:4px solid #e53935;background:#e5393566}}
.t-par{--c:#ffe082;--o:#f9a825}.t-equal{--c:#ffcc80;--o:#ef6c00}.t-cth{--c:#b3e5fc;--o:#0288d1}
.t-imgpar{--c:#e1bee7;--o:#8e24aa}.t-imgig{--c:#c5e1a5;--o:#558b2f}.t-flag{--c:#f8bbd0;--o:#c2185b}
.t-other{--c:#e0e0e0;--o:#616161}
"""

SCRIPT = """\
(function () {
  "use strict";
  var list = document.getElementById("marks"), text = document.getElementById("text"),
    pdf = document.getElementById("pdf"), items = list.querySelectorAll("li[data-m]"),
    current = -1;

  function shown(pane, i) { return pane.querySelectorAll('[data-m~="' + i + '"]'); }
  function each(nodes, f) { Array.prototype.forEach.call(nodes, f); }
  function flash(nodes) {
    each(nodes, function (n) { n.classList.remove("flash"); void n.offsetWidth; n.classList.add("flash"); });
  }
  function select(i, from) {
    if (i < 0 || i >= items.length) return;
    each(document.querySelectorAll(".sel"), function (n) { n.classList.remove("sel"); });
    current = i;
    var inText = shown(text, i), inPdf = shown(pdf, i);
    items[i].classList.add("sel");
    each(inText, function (n) { n.classList.add("sel"); });
    each(inPdf, function (n) { n.classList.add("sel"); });
    if (from !== list) items[i].scrollIntoView({block: "nearest"});
    if (from !== text && inText.length) inText[0].scrollIntoView({block: "center"});
    if (from !== pdf && inPdf.length) inPdf[0].scrollIntoView({block: "center"});
    flash(inText);
    flash(inPdf);
  }
  document.addEventListener("click", function (e) {
    var hit = e.target.closest("[data-m]");
    if (!hit) return;
    // Overlapping marks share text: clicking it again steps to the next mark it shows.
    var ids = hit.getAttribute("data-m").split(" ").map(Number), at = ids.indexOf(current);
    select(ids[(at + 1) % ids.length], list.contains(hit) ? list : text.contains(hit) ? text : pdf);
  });
  document.addEventListener("keydown", function (e) {
    if (e.ctrlKey || e.metaKey || e.altKey || e.target.tagName === "INPUT") return;
    if (e.key === "n") select(Math.min(current + 1, items.length - 1));
    else if (e.key === "p") select(Math.max(current - 1, 0));
  });
  document.getElementById("outlines").addEventListener("change", function (e) {
    pdf.classList.toggle("nobox", !e.target.checked);
  });
})();
"""
