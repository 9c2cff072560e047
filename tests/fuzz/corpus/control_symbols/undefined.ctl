a
# c
$set $x = 1
use $y here
