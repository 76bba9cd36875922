module probe {
}
