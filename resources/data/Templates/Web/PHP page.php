<?php
declare(strict_types=1);

// Everything printed into the page goes through e(): text from a request is never markup.
function e(string $text): string
{
    return htmlspecialchars($text, ENT_QUOTES | ENT_HTML5, 'UTF-8');
}

$name = $_GET['name'] ?? 'world';
?>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Untitled page</title>
</head>
<body>
<p>Hello, <?= e($name) ?>!</p>
</body>
</html>
