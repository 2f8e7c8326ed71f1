// Line comment
const total = 42.5; /* block
comment */
let s = "a\"b" + 'c' + `template
over lines`;
function f(x) { return x >= 0x1F ? x : -x; }
console.log(total, iffy, returns, new_value, newValue);
var re = /ab+c/g; if (a<b) alert(s);
