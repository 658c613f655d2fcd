// A page script with faults that the lint must find: the test command lints it first and fails when the
// lint passes it, so that a linter that lints nothing (a missing module, a formatter that cannot load)
// never passes the real scripts by default.
(function () {
    "use strict";
    var unused = 1;
    if (unused == 2) {
    }
})();
