// Replaced as the support modules arrive.
