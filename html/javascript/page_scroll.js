// Shows the scroll lines one after the other in the page's scroll bar.
var wcontent = [];
(******REPLACE_PAGESCROLL******)
(function () {
  var shown = 0;
  function next() {
    var bar = document.getElementById("pagescroll");
    if (!bar || wcontent.length === 0) return;
    bar.innerHTML = wcontent[shown];
    shown = (shown + 1) % wcontent.length;
  }
  next();
  setInterval(next, 4000);
})();
