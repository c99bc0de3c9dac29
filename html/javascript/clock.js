// Fills the logo bar's clock, date and time cells and keeps them current.
(function () {
  function two(n) { return (n < 10 ? "0" : "") + n; }
  function tick() {
    var now = new Date();
    var time = two(now.getHours()) + ":" + two(now.getMinutes()) + ":" + two(now.getSeconds());
    var date = now.toLocaleDateString();
    var cells = { logoclock: date + " " + time, logodate: date, logotime: time };
    for (var id in cells) {
      var cell = document.getElementById(id);
      if (cell) cell.textContent = cells[id];
    }
  }
  tick();
  setInterval(tick, 1000);
})();
