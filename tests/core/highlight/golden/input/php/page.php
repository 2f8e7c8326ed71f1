<!DOCTYPE html>
<html lang="en">
<head><title><?= htmlspecialchars($title) ?></title></head>
<body class="home">
<?php
/* A block comment
   over lines */
namespace App\Site;
use App\Db;

// a line comment
# another one
$items = ['a' => 1, "b" => 2.5];
$name = "Caf\"e\" $items[a]" . 'it\'s';
if (isset($_GET['q']) && strlen(trim($_GET['q'])) > 0) {
    echo "<p>Search: " . htmlspecialchars($_GET['q']) . "</p>";
}
$text = <<<EOT
Dear $name,
  thanks for "ordering".
EOT;
$raw = <<<'RAW'
No $interpolation here
RAW;
function total(array $rows): float { return array_sum(array_map(fn($r) => $r * 2, $rows)); }
?>
<p>Caf&eacute; &amp; bar</p>
<?php foreach ($items as $k => $v): ?>
  <li data-k="<?= $k ?>"><?= $v ?></li>
<?php endforeach; ?>
<script>
  var n = 1 < 2 ? "yes" : 'no';
</script>
</body>
</html>
