<?php
declare(strict_types=1);

class Greeter
{
    public function __construct(private string $who = "world") {}

    public function greet(): string
    {
        return sprintf("Hello, %s!\n", $this->who);
    }
}

echo (new Greeter())->greet();
$open = <<<EOT
a here-document that is never closed
